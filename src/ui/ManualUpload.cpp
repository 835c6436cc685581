#include "ui/ManualUpload.h"

#include "BuildInfo.h"
#include "logs/ErrorLog.h"
#include "logs/LogText.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "ui/Prompter.h"
#include "upload/HttpFileUpload.h"
#include "upload/RealtimeRequest.h"
#include "upload/ServiceAddress.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <optional>

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString FailedStatus = QStringLiteral("Uploading Data Returned Error's");
const QString ErrorHeading =
    QStringLiteral("An Error has occured in uploading your file to the Corvane Server.\r\n"
                   "Please wait for a few minutes and try the upload again.\r\n");
const QString ErrorFooter = QStringLiteral("The error information has been saved to the ErrorLog.txt file.");
constexpr std::chrono::milliseconds UploadTimeout{60000};

// Why `path` cannot be sent, or nothing when it names a readable file.
std::optional<QString> unreadableReason(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("there is no such file.");
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return std::nullopt;
}

enum class Removal
{
    Deleted,
    Grew,
    Changed,
    Failed
};

// Contacts appended since the upload are on no server yet, so the file goes
// only while it still holds exactly the bytes that were sent.
Removal removeIfUnchanged(const QString& path, const QByteArray& sent, QString& error)
{
    QFile file(path);
    if (!file.exists())
        return Removal::Deleted;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return Removal::Failed;
    }
    const QByteArray now = file.readAll();
    file.close();
    if (now != sent)
        return now.startsWith(sent) ? Removal::Grew : Removal::Changed;
    if (!file.remove()) {
        error = file.errorString();
        return Removal::Failed;
    }
    return Removal::Deleted;
}

} // namespace

ManualUpload::ManualUpload(Station& station, Prompter& prompter, QWidget* window, QLineEdit* path,
                           QPushButton* browse, QPushButton* upload)
    : QObject(window), m_station(station), m_prompter(prompter), m_window(window), m_path(path), m_browse(browse),
      m_upload(upload)
{
    connect(m_browse, &QPushButton::clicked, this, &ManualUpload::cmbBrowseforUploadADIF_Click);
    connect(m_upload, &QPushButton::clicked, this, &ManualUpload::cmbProcessandUpload_Click);
}

ManualUpload::~ManualUpload()
{
    // Before the client it uses goes.
    delete m_active;
}

void ManualUpload::cmbBrowseforUploadADIF_Click()
{
    const QString chosen = m_prompter.openFileName(
        m_window, QStringLiteral("Select ADIF file to Process Path"), m_station.paths().directory(),
        QStringLiteral("ADIF (*.adi *.adif) | *.adi;*.adif|All files (*)|*"));
    if (!chosen.isEmpty())
        m_path->setText(chosen);
}

void ManualUpload::cmbProcessandUpload_Click()
{
    const QString path = m_path->text();
    if (m_active)
        return;
    if (path.isEmpty()) {
        setStatus(tr("Choose the ADIF file to upload first: click \"...\" or type its path."));
        return;
    }
    if (const std::optional<QString> reason = unreadableReason(path)) {
        m_prompter.message(m_window,
                           QStringLiteral("The file") + CrLf + path + CrLf +
                               QStringLiteral("could not be read: ") + *reason + CrLf +
                               QStringLiteral("Nothing was uploaded."),
                           QString(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return;
    }
    UploadToCorvane(path);
}

void ManualUpload::UploadToCorvane(const QString& path)
{
    // A second click must not send the same file twice.
    setButtonsEnabled(false);
    m_uploadedPath = path;

    const ServiceBase service = resolveServiceBase(
        SettingKey::ServiceHost, m_station.settings().GetSettings(SettingKey::ServiceHost, QString()),
        QString::fromUtf8(BuildInfo::ServiceHost));
    if (!service.problem.isEmpty()) {
        m_prompter.message(m_window, service.problem, QString(), Prompter::Buttons::Ok,
                           Prompter::Icon::Critical);
        setButtonsEnabled(true);
        return;
    }
    auto* upload = new HttpFileUpload(m_station.http(), m_station.paths().directory(), this);
    m_active = upload;
    const Credentials& login = m_station.login().current();
    upload->setHost(service.url);
    upload->setTimeout(UploadTimeout);
    upload->setPath(QStringLiteral("/putlogs.php"));
    upload->AddField(QStringLiteral("email"), login.email);
    upload->AddField(QStringLiteral("password"), login.password);
    upload->AddField(QStringLiteral("callsign"), login.callsign);
    upload->AddField(QStringLiteral("api"), QString::fromLatin1(ApplicationKey));
    upload->AddFile(QStringLiteral("file"), path);

    connect(upload, &HttpFileUpload::progress, this, [this, upload] {
        setStatus(QStringLiteral("Uploading File %1% %2/%3")
                      .arg(upload->Percent())
                      .arg(upload->SentAmount())
                      .arg(upload->TotalAmount()));
    });
    connect(upload, &HttpFileUpload::finished, this, &ManualUpload::uploadFinished);

    // Either way finished() follows, and the outcome is judged there.
    setStatus(upload->Start() ? QStringLiteral("File Uploading!") : upload->StatusText());
}

void ManualUpload::uploadFinished()
{
    HttpFileUpload* upload = m_active;
    if (!upload)
        return;
    m_active = nullptr;
    // Not deleted inside its own signal, nor by the dialogs' event loops below.
    upload->deleteLater();

    const QString replyText =
        HttpFileUpload::DecodeText(upload->ResponseBody(), QStringLiteral("iso-8859-1"));
    if (upload->Completed() && upload->StatusCode() == 200) {
        m_prompter.message(
            m_window,
            QStringLiteral("The Corvane Servers returned the following message:") + CrLf + CrLf + replyText +
                CrLf + CrLf + QStringLiteral("Please Note:") + CrLf +
                QStringLiteral("In about 10 minutes you will recieve an email from Corvane") + CrLf +
                QStringLiteral("with the status of your upload if you have that option turned on "
                               "at Corvane."),
            QString(), Prompter::Buttons::Ok, Prompter::Icon::None);
        setStatus(QStringLiteral("Uploading Data Complete"));
        offerToDelete(upload->fileSnapshot());
    } else {
        const bool refused = upload->Completed();
        if (refused)
            upload->SaveLog(QString::fromLatin1(AppPaths::DebugLogName));
        const QString text = refused
                                 ? ErrorHeading + ErrorFooter
                                 : ErrorHeading +
                                       QStringLiteral(" If the problem continues try going to the Corvane "
                                                      "website\r\nand try uploading it there..\r\n") +
                                       ErrorFooter;
        m_prompter.message(m_window, text, QString(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        setStatus(FailedStatus);
        // A failure without a reply body would leave an empty report; say what failed instead.
        m_station.reportError(ErrorTitle::ServiceError, replyText.isEmpty() ? upload->StatusText() : replyText);
    }
    setButtonsEnabled(true);
}

void ManualUpload::offerToDelete(const QByteArray& sent)
{
    const QString path = m_uploadedPath;
    const Prompter::Answer answer = m_prompter.message(
        m_window, QStringLiteral("Would you like to delete ") + CrLf + path + QStringLiteral(" ?"),
        QString(), Prompter::Buttons::YesNo, Prompter::Icon::None, Prompter::Answer::No);
    if (answer == Prompter::Answer::Yes) {
        const auto tell = [this, &path](const QString& what) {
            m_prompter.message(m_window, QStringLiteral("The file") + CrLf + path + CrLf + what, QString(),
                               Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        };
        QString error;
        switch (removeIfUnchanged(path, sent, error)) {
        case Removal::Deleted:
            break;
        case Removal::Grew:
            tell(QStringLiteral(
                "received new contacts since the upload and was kept, so that they are not lost."));
            break;
        case Removal::Changed:
            tell(QStringLiteral("changed since the upload and was kept, so that nothing in it is lost."));
            break;
        case Removal::Failed:
            tell(QStringLiteral("could not be deleted: ") + error);
            // Still named in the box, so the user sees which file is left.
            return;
        }
    }
    m_path->clear();
    setStatus(QString());
}

void ManualUpload::setStatus(const QString& text)
{
    m_station.showJob(text);
}

void ManualUpload::setButtonsEnabled(bool enabled)
{
    m_browse->setEnabled(enabled);
    m_upload->setEnabled(enabled);
}
