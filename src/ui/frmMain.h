#pragma once

#include "settings/AppPaths.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;
class About;
class ContactPipeline;
class ManualUpload;
class Prompter;
class QNetworkAccessManager;
class RealtimeUploader;
class UdpListener;

// The one window of the program. The controls are public and carry the names
// the rest of the program knows them by.
class frmMain final : public QMainWindow
{
    Q_OBJECT

public:
    // Builds the window in its design state; Form_Load brings it to life.
    frmMain(const AppPaths& paths, Prompter& prompter, QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up: settings file, listener, debug switch, login fields, check
    // box, count, error menu and indicator, title-bar hook, in that order.
    void Form_Load();

    void BindSocket(qint64 port);
    void txtPort_LostFocus();
    void ProgramErrorFlash(bool Status);
    void mnuDebug_Click(int Index);

    bool isRequestingAttention() const { return m_requestingAttention; }
    ContactPipeline& pipeline() { return *m_pipeline; }
    RealtimeUploader& uploader() { return *m_uploader; }
    UdpListener& socket() { return *Socket; }
    const Settings& settings() const { return m_settings; }
    About* aboutWindow() const;

    QLabel* lblPortTo = nullptr;
    QLineEdit* txtPort = nullptr;
    QLabel* lblTotalQso = nullptr;
    QLineEdit* txtTotalQSOUploaded = nullptr;
    QPushButton* cmdReset = nullptr;

    QGroupBox* FraCorvane = nullptr;
    QLabel* lblEmailAddress = nullptr;
    QLineEdit* txtCorvaneEmailAddress = nullptr;
    QLabel* lblCallsign = nullptr;
    QLineEdit* txtCorvaneCallsign = nullptr;
    QLabel* lblPassword = nullptr;
    QLineEdit* txtCorvanePassword = nullptr;
    QCheckBox* chkEnableAuto = nullptr;

    QPlainTextEdit* txtResult = nullptr;

    QGroupBox* FraManualCorvane = nullptr;
    QLabel* lblADIFFileCorvane = nullptr;
    QLineEdit* txtUploadADIFPathCorvane = nullptr;
    QPushButton* cmbBrowseforUploadADIF = nullptr;
    QPushButton* cmbProcessandUpload = nullptr;

    // The status line of the program is StatusPanel1's text; write the label,
    // not QStatusBar::showMessage, which would hide it.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel1 = nullptr;

    QMenu* mnuError = nullptr; // shown or hidden through mnuError->menuAction()
    QAction* mnuOpenErrorLog = nullptr;
    QAction* mnuClearErrorLog = nullptr;
    QAction* mnuViewNonUploaded = nullptr;
    QMenu* mnuInfo = nullptr;
    QAction* mnuAbout = nullptr;
    QMenu* mnudbg = nullptr;
    QAction* mnuDebug0 = nullptr; // "Debug On"
    QAction* mnuDebug1 = nullptr; // "Debug Off"

    QTimer* Timer1 = nullptr; // the error indicator's clock; stopped until an error

protected:
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectHandlers();
    void showDatagram(const QString& text);
    void stopErrorIndicator();
    void startErrorIndicator();
    void onErrorReported();
    void chkEnableAuto_Click(bool checked);
    void saveCredential(const QString& key, const QString& text);
    void cmdReset_Click();
    void openLog(const QString& path);
    void mnuClearErrorLog_Click();
    void mnuAbout_Click();
    void Form_Unload();

    void setupUi();
    void setupMenus();
    void setupTabOrder();

    AppPaths m_paths;
    Prompter& m_prompter;
    Settings m_settings;
    QNetworkAccessManager* m_network = nullptr;
    RealtimeUploader* m_uploader = nullptr;
    ContactPipeline* m_pipeline = nullptr;
    UdpListener* Socket = nullptr;
    ManualUpload* m_manualUpload = nullptr;
    QTimer* m_datagramDisplay = nullptr;
    QString m_datagramText;
    QPointer<About> m_about;
    bool m_requestingAttention = false;
    bool m_checkingPort = false;
    bool m_unloaded = false;
};

// The version as the settings file and the About window write it: a blank
// before the major number, as a number-to-text conversion gives it.
QString versionText();
