#include "ui/ManualUpload.h"

#include "logs/ErrorLog.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "ui/Prompter.h"
#include "upload/AdifFileUpload.h"
#include "upload/HttpFileUpload.h"

#include <QLineEdit>
#include <QPushButton>

#include <optional>

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString FailedStatus = QStringLiteral("Uploading Data Returned Error's");
const QString ErrorHeading =
    QStringLiteral("An Error has occured in uploading your file to the Corvane Server.\r\n"
                   "Please wait for a few minutes and try the upload again.\r\n");
const QString ErrorFooter = QStringLiteral("The error information has been saved to the ErrorLog.txt file.");

// "The file", its path, then what is said about it, each on a line of its own.
QString aboutFile(const QString& path, const QString& what)
{
    return QStringLiteral("The file") + CrLf + path + CrLf + what;
}

} // namespace

ManualUpload::ManualUpload(Station& station, Prompter& prompter, QWidget* window, QLineEdit* path,
                           QPushButton* browse, QPushButton* upload)
    : QObject(window), m_station(station), m_prompter(prompter), m_window(window), m_path(path),
      m_browse(browse), m_upload(upload)
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
        m_station.showJob(tr("Choose the ADIF file to upload first: click \"...\" or type its path."));
        return;
    }
    if (const std::optional<QString> reason = AdifFileUpload::problemWith(path, true)) {
        m_prompter.message(m_window,
                           aboutFile(path, QStringLiteral("could not be read: ") + *reason + CrLf +
                                               QStringLiteral("Nothing was uploaded.")),
                           QString(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return;
    }
    // Anything else would be sent as it is, and the service would say so only by mail.
    if (AdifFileUpload::problemWith(path, false) &&
        m_prompter.message(m_window,
                           aboutFile(path, tr("holds no ADIF records (no <EOR>). Upload it anyway?")),
                           QString(), Prompter::Buttons::YesNo, Prompter::Icon::Exclamation,
                           Prompter::Answer::No) != Prompter::Answer::Yes)
        return;
    UploadToCorvane(path);
}

void ManualUpload::UploadToCorvane(const QString& path)
{
    // A second click must not send the same file twice.
    setButtonsEnabled(false);
    m_uploadedPath = path;

    QString problem;
    HttpFileUpload* upload =
        AdifFileUpload::make(m_station.http(), m_station.settings(), m_station.paths().directory(),
                             m_station.login().current(), path, &problem, this);
    if (!upload) {
        m_prompter.message(m_window, problem, QString(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        setButtonsEnabled(true);
        return;
    }
    m_active = upload;

    connect(upload, &HttpFileUpload::progress, this, [this, upload] {
        m_station.showJob(QStringLiteral("Uploading File %1% %2/%3")
                              .arg(upload->Percent())
                              .arg(upload->SentAmount())
                              .arg(upload->TotalAmount()));
    });
    connect(upload, &HttpFileUpload::finished, this, &ManualUpload::uploadFinished);

    // Either way finished() follows, and the outcome is judged there.
    m_station.showJob(upload->Start() ? QStringLiteral("File Uploading!") : upload->StatusText());
}

void ManualUpload::uploadFinished()
{
    HttpFileUpload* upload = m_active;
    if (!upload)
        return;
    m_active = nullptr;
    // Not deleted inside its own signal, nor by the dialogs' event loops below.
    upload->deleteLater();

    if (upload->Completed() && upload->StatusCode() == 200) {
        m_prompter.message(
            m_window,
            QStringLiteral("The Corvane Servers returned the following message:") + CrLf + CrLf +
                AdifFileUpload::replyText(*upload) + CrLf + CrLf + QStringLiteral("Please Note:") + CrLf +
                QStringLiteral("In about 10 minutes you will recieve an email from Corvane") + CrLf +
                QStringLiteral("with the status of your upload if you have that option turned on "
                               "at Corvane."),
            QString(), Prompter::Buttons::Ok, Prompter::Icon::None);
        m_station.showJob(QStringLiteral("Uploading Data Complete"));
        offerToDelete(upload->fileSnapshot());
    } else {
        const QString report = AdifFileUpload::errorReport(*upload); // saves the exchange, before any box
        // Without an answer from the service, its website may still take the file.
        const QString advice = upload->Completed()
                                   ? QString()
                                   : QStringLiteral(" If the problem continues try going to the "
                                                    "Corvane website\r\nand try uploading it there..\r\n");
        m_prompter.message(m_window,
                           ErrorHeading + advice + ErrorFooter + CrLf + CrLf +
                               tr("What went wrong: %1").arg(AdifFileUpload::failure(*upload)),
                           QString(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        m_station.showJob(FailedStatus);
        m_station.reportError(ErrorTitle::ServiceError, report);
    }
    setButtonsEnabled(true);
}

void ManualUpload::offerToDelete(const QByteArray& sent)
{
    const QString path = m_uploadedPath;
    const Prompter::Answer answer = m_prompter.message(
        m_window, QStringLiteral("Would you like to delete ") + CrLf + path + QStringLiteral(" ?"), QString(),
        Prompter::Buttons::YesNo, Prompter::Icon::None, Prompter::Answer::No);
    if (answer == Prompter::Answer::Yes) {
        const auto tell = [this, &path](const QString& what) {
            m_prompter.message(m_window, aboutFile(path, what), QString(), Prompter::Buttons::Ok,
                               Prompter::Icon::Exclamation);
        };
        QString error;
        switch (AdifFileUpload::removeIfUnchanged(path, sent, &error)) {
        case AdifFileUpload::Removal::Deleted:
            break;
        case AdifFileUpload::Removal::Grew:
            tell(QStringLiteral(
                "received new contacts since the upload and was kept, so that they are not lost."));
            break;
        case AdifFileUpload::Removal::Changed:
            tell(QStringLiteral("changed since the upload and was kept, so that nothing in it is lost."));
            break;
        case AdifFileUpload::Removal::Failed:
            tell(QStringLiteral("could not be deleted: ") + error);
            // Still named in the box, so the user sees which file is left.
            return;
        }
    }
    m_path->clear();
    m_station.showJob(QString());
}

void ManualUpload::setButtonsEnabled(bool enabled)
{
    m_browse->setEnabled(enabled);
    m_upload->setEnabled(enabled);
}
