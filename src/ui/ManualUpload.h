#pragma once

#include <QByteArray>
#include <QObject>

class HttpFileUpload;
class Prompter;
class QLineEdit;
class QPushButton;
class QWidget;
class Station;

// The "Manual Corvane Upload" frame: picks an ADIF file and sends it whole to
// /putlogs.php, showing the progress and the service's answer, then offers to
// delete the file. One upload at a time; its buttons rest while it runs.
class ManualUpload final : public QObject
{
    Q_OBJECT

public:
    ManualUpload(Station& station, Prompter& prompter, QWidget* window, QLineEdit* path, QPushButton* browse,
                 QPushButton* upload);
    ~ManualUpload() override;

    // The upload under way, or null; it is gone after finished().
    HttpFileUpload* activeUpload() const { return m_active; }

private:
    void cmbBrowseforUploadADIF_Click();
    void cmbProcessandUpload_Click();
    void UploadToCorvane(const QString& path);
    void uploadFinished();
    void offerToDelete(const QByteArray& sent);
    void setButtonsEnabled(bool enabled);

    Station& m_station;
    Prompter& m_prompter;
    QWidget* m_window;
    QLineEdit* m_path;
    QPushButton* m_browse;
    QPushButton* m_upload;
    HttpFileUpload* m_active = nullptr;
    QString m_uploadedPath;
};
