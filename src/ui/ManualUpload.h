#pragma once

#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "upload/HttpClient.h"

#include <QByteArray>
#include <QObject>

class frmMain;
class HttpFileUpload;
class Prompter;

// The "Manual Corvane Upload" frame: picks an ADIF file and sends it whole to
// /putlogs.php, showing the progress and the service's answer, then offers to
// delete the file. One upload at a time; its buttons rest while it runs.
class ManualUpload final : public QObject
{
    Q_OBJECT

public:
    ManualUpload(frmMain& window, Prompter& prompter, const AppPaths& paths, const Settings& settings,
                 QObject* parent = nullptr);
    ~ManualUpload() override;

    // The upload under way, or null; it is gone after finished().
    HttpFileUpload* activeUpload() const { return m_upload; }

signals:
    // Right after each write to the error log, for the window's error indicator.
    void errorReported();

private:
    void cmbBrowseforUploadADIF_Click();
    void cmbProcessandUpload_Click();
    void UploadToCorvane(const QString& path);
    void uploadFinished();
    void offerToDelete(const QByteArray& sent);
    void setStatus(const QString& text);
    void setButtonsEnabled(bool enabled);

    frmMain& m_window;
    Prompter& m_prompter;
    AppPaths m_paths;
    Settings m_settings;
    HttpClient m_http;
    HttpFileUpload* m_upload = nullptr;
    QString m_uploadedPath;
};
