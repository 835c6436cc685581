#include "UploadCommand.h"

#include "logs/ErrorLog.h"
#include "logs/LogText.h"
#include "settings/AppPaths.h"
#include "settings/LoginSource.h"
#include "upload/AdifFileUpload.h"
#include "upload/HttpClient.h"
#include "upload/HttpFileUpload.h"
#include "upload/ReplyVerdict.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

int fail(const QString& text, int status)
{
    std::fprintf(stderr, "tarvex: %s\n", qPrintable(text));
    return status;
}

// A password kept in the keyring answers later, or not at all.
Credentials loginOf(const Settings& settings)
{
    LoginSource login(settings);
    QEventLoop wait;
    QObject::connect(&login, &LoginSource::loaded, &wait, [&wait](const Credentials& loaded) {
        if (loaded.password != QLatin1String("Not Set"))
            wait.quit();
    });
    QObject::connect(&login, &LoginSource::problem, &wait, [&wait](const QString& text) {
        fail(text, 0);
        wait.quit();
    });
    login.load();
    if (login.inKeyring() && login.current().password == QLatin1String("Not Set")) {
        QTimer::singleShot(10000, &wait, &QEventLoop::quit);
        wait.exec();
    }
    return login.current();
}

} // namespace

int uploadCommand(const AppPaths& paths, const QString& file, bool force, bool deleteAfter)
{
    if (const std::optional<QString> problem = AdifFileUpload::problemWith(file, force))
        return fail(QStringLiteral("%1 is not uploaded: %2%3")
                        .arg(file, *problem, force ? QString() : QStringLiteral(" (--force sends it anyway)")),
                    2);
    const Settings settings(paths.settingsFile(), paths.debugLog());
    const Credentials login = loginOf(settings);
    HttpClient http;
    QString problem;
    const std::unique_ptr<HttpFileUpload> upload(
        AdifFileUpload::make(http, settings, paths.directory(), login, file, &problem, nullptr));
    if (!upload)
        return fail(problem, 2);
    QEventLoop wait;
    QObject::connect(upload.get(), &HttpFileUpload::finished, &wait, &QEventLoop::quit);
    upload->Start(); // finished() follows either way
    wait.exec();

    std::printf("%s\n", qPrintable(AdifFileUpload::replyText(*upload)));
    if (!upload->Completed() || upload->StatusCode() != 200) {
        ErrorLog(paths.errorLog())
            .write(ErrorTitle::ServiceError,
                   LogText::safeText(AdifFileUpload::errorReport(*upload), login.password,
                                     std::numeric_limits<qsizetype>::max()));
        return fail(QStringLiteral("the upload of %1 failed: %2").arg(file, AdifFileUpload::failure(*upload)),
                    upload->Completed() ? 1 : 4);
    }
    if (!deleteAfter)
        return 0;
    // Only a reply that says the service took it is worth giving up the file for.
    if (!isAcceptedReply(upload->ResponseBody()))
        return fail(QStringLiteral("%1 is kept: the reply holds none of OK, Modified or Duplicate").arg(file), 0);
    QString error;
    switch (AdifFileUpload::removeIfUnchanged(file, upload->fileSnapshot(), &error)) {
    case AdifFileUpload::Removal::Deleted:
        return 0;
    case AdifFileUpload::Removal::Grew:
        return fail(QStringLiteral("%1 is kept: contacts were added to it during the upload").arg(file), 0);
    case AdifFileUpload::Removal::Changed:
        return fail(QStringLiteral("%1 is kept: it changed during the upload").arg(file), 0);
    case AdifFileUpload::Removal::Failed:
        break;
    }
    return fail(QStringLiteral("%1 could not be deleted: %2").arg(file, error), 0);
}
