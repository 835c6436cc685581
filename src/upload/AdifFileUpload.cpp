#include "upload/AdifFileUpload.h"

#include "BuildInfo.h"
#include "logs/LogFile.h"
#include "logs/NonUploadedQsosLog.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "upload/HttpFileUpload.h"
#include "upload/ServiceAddress.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>

namespace AdifFileUpload {

bool holdsRecords(const QByteArray& bytes)
{
    return bytes.toLower().contains("<eor>");
}

std::optional<QString> problemWith(const QString& path, bool force)
{
    if (QFileInfo(path).isDir())
        return QStringLiteral("it is a folder, not a file.");
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("there is no such file.");
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (!force && !holdsRecords(file.readAll()))
        return QStringLiteral("it holds no ADIF records (no <EOR>).");
    return std::nullopt;
}

HttpFileUpload* make(HttpClient& http, const Settings& settings, const QString& logFolder,
                     const Credentials& login, const QString& path, QString* problem, QObject* parent)
{
    const ServiceBase service =
        resolveServiceBase(SettingKey::ServiceHost, settings.GetSettings(SettingKey::ServiceHost, QString()),
                           QString::fromUtf8(BuildInfo::ServiceHost));
    if (!service.problem.isEmpty()) {
        *problem = service.problem;
        return nullptr;
    }
    auto* upload = new HttpFileUpload(http, logFolder, parent);
    upload->setHost(service.url);
    upload->setPath(QStringLiteral("/putlogs.php"));
    upload->AddField(QStringLiteral("email"), login.email);
    upload->AddField(QStringLiteral("password"), login.password);
    upload->AddField(QStringLiteral("callsign"), login.callsign);
    upload->AddField(QStringLiteral("api"), QString::fromLatin1(ApplicationKey));
    upload->AddFile(QStringLiteral("file"), path);
    return upload;
}

QString replyText(const HttpFileUpload& upload)
{
    return QString::fromLatin1(upload.ResponseBody());
}

QString failure(const HttpFileUpload& upload)
{
    return upload.StatusText();
}

QString errorReport(const HttpFileUpload& upload)
{
    if (upload.Completed())
        upload.SaveLog(QString::fromLatin1(AppPaths::DebugLogName));
    // A failure without a reply body would leave an empty report; say what failed instead.
    const QString reply = replyText(upload);
    return reply.isEmpty() ? failure(upload) : reply;
}

Removal removeIfUnchanged(const QString& path, const QByteArray& sent, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray aside = name + ".uploaded";
    // No name of the user's is ever replaced.
    if (::renameat2(AT_FDCWD, name.constData(), AT_FDCWD, aside.constData(), RENAME_NOREPLACE) != 0) {
        *error = systemError();
        return errno == ENOENT ? Removal::Deleted : Removal::Failed;
    }
    QFile moved(QFile::decodeName(aside));
    const QByteArray now = moved.open(QIODevice::ReadOnly) ? moved.readAll() : QByteArray();
    moved.close();
    if (now == sent && moved.remove())
        return Removal::Deleted;
    *error = moved.errorString();
    // Back where it was; contacts written meanwhile to a new file there follow it.
    for (int tries = 0; tries < 3; ++tries) {
        if (::renameat2(AT_FDCWD, aside.constData(), AT_FDCWD, name.constData(), RENAME_NOREPLACE) == 0)
            return now == sent ? Removal::Failed : now.startsWith(sent) ? Removal::Grew : Removal::Changed;
        QFile newer(path);
        QByteArray added = newer.open(QIODevice::ReadOnly) ? newer.readAll() : QByteArray();
        if (added.startsWith(NonUploadedQsosLog::header().toUtf8()))
            added.remove(0, NonUploadedQsosLog::header().toUtf8().size());
        if (!newer.isOpen() || !appendToFile(moved.fileName(), added, error) || !newer.remove())
            break;
    }
    *error = QStringLiteral("it was left as %1").arg(moved.fileName());
    return Removal::Failed;
}

} // namespace AdifFileUpload
