#pragma once

#include "capture/ContactCapture.h"
#include "outbox/DiskKeeper.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "status/Notifications.h"
#include "upload/RealtimeUploader.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <memory>

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
class Outbox;
class Prompter;
class RecentContacts;
class RecentContactsView;
class StationStatus;
class TrayIcon;

// The one window of the program. The controls are public and carry the names
// the rest of the program knows them by. The contacts' work runs below it:
// a capture thread reads and stores them, a disk thread syncs, the uploader
// sends; the window shows their state at most ten times a second.
class frmMain final : public QMainWindow
{
    Q_OBJECT

public:
    // Every wait the window's parts make, so tests need not wait them out.
    struct Timings
    {
        std::chrono::milliseconds rebind = ContactCapture::DefaultRebindInterval;
        std::chrono::milliseconds outboxSync = DiskKeeper::DefaultSyncDelay;
        std::chrono::milliseconds diskRetry = DiskKeeper::DefaultRetryInterval;
        std::chrono::milliseconds firstPause = RealtimeUploader::FirstPause;
        std::chrono::milliseconds longestPause = RealtimeUploader::LongestPause;
        std::chrono::milliseconds requestTimeout = RealtimeUploader::DefaultTimeout;
        std::chrono::milliseconds errorFlash{30000};
        std::chrono::milliseconds refusalNotices = Notifications::DefaultRefusalWindow;
    };
    static constexpr std::chrono::milliseconds RefreshInterval{100};

    // Builds the window in its design state; Form_Load brings it to life.
    frmMain(const AppPaths& paths, Prompter& prompter, QWidget* parent = nullptr);
    ~frmMain() override;

    // Before Form_Load.
    void setTimings(const Timings& timings);
    void setReceiveBufferSize(int bytes);
    // Headless: no tray, no window geometry, no questions at closing.
    void setHeadless(bool headless) { m_headless = headless; }

    // Start-up: settings file, outbox, listener, debug switch, login fields,
    // check box, count, error menu and indicator, title-bar hook, then the
    // contacts an earlier run left waiting.
    void Form_Load();

    void BindSocket(qint64 port);
    void txtPort_LostFocus();
    void ProgramErrorFlash(bool Status);
    void mnuDebug_Click(int Index);
    // SIGTERM and friends: close without asking anything.
    void closeForSignal();
    // The status line: with the next refresh (at most ten a second), or at
    // once for the operator's own actions.
    void showStatus(const QString& text);
    void showStatusNow(const QString& text);

    bool isRequestingAttention() const { return m_requestingAttention; }
    ContactPipeline& pipeline() { return *m_pipeline; }
    RealtimeUploader& uploader() { return *m_uploader; }
    StationStatus& status() { return *m_status; }
    RecentContacts& recent() { return *m_recent; }
    Notifications& notifications() { return *m_notifications; }
    const Settings& settings() const { return m_settings; }
    quint16 portInUse() const { return m_portInUse; }
    About* aboutWindow() const;
    RecentContactsView* recentWindow() const;
    TrayIcon* tray() const { return m_tray; }

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
    QAction* actShowPassword = nullptr;
    QCheckBox* chkEnableAuto = nullptr;

    QPlainTextEdit* txtResult = nullptr;

    QGroupBox* FraManualCorvane = nullptr;
    QLabel* lblADIFFileCorvane = nullptr;
    QLineEdit* txtUploadADIFPathCorvane = nullptr;
    QPushButton* cmbBrowseforUploadADIF = nullptr;
    QPushButton* cmbProcessandUpload = nullptr;

    // StatusPanel1 carries the program's status line; the others keep their
    // own texts in view whatever the status line says.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* lblListening = nullptr;
    QLabel* lblCounts = nullptr;
    QLabel* lblFailure = nullptr;
    QLabel* lblWaiting = nullptr;

    QMenu* mnuError = nullptr; // shown or hidden through mnuError->menuAction()
    QAction* mnuOpenErrorLog = nullptr;
    QAction* mnuClearErrorLog = nullptr;
    QAction* mnuViewNonUploaded = nullptr;
    QMenu* mnuInfo = nullptr;
    QAction* mnuRecent = nullptr;
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
    void startWorkers();
    void connectHandlers();
    void applyPort(bool quietWhenInvalid);
    void onListening(quint16 port);
    void onNotListening(quint16 port, const QString& reason);
    void reportUnusableSetting(const QString& problem);
    void reportOutboxProblem(const QString& problem);
    void requestRefresh();
    void refresh();
    void applyColours();
    void stopErrorIndicator();
    void startErrorIndicator();
    void onErrorReported();
    void chkEnableAuto_Click(bool checked);
    void saveCredential(const QString& key, const QString& text);
    void cmdReset_Click();
    void openLog(const QString& path);
    void mnuClearErrorLog_Click();
    void mnuAbout_Click();
    void mnuRecent_Click();
    void Form_Unload();

    void setupUi();
    void setupStatusBar();
    void setupMenus();
    void setupTabOrder();

    AppPaths m_paths;
    Prompter& m_prompter;
    Settings m_settings;
    Timings m_timings;
    int m_receiveBuffer;
    std::unique_ptr<Outbox> m_outbox;
    QThread m_captureThread;
    QThread m_diskThread;
    ContactCapture* m_capture = nullptr;
    DiskKeeper* m_keeper = nullptr;
    ExitSummary m_exit;
    RealtimeUploader* m_uploader = nullptr;
    ContactPipeline* m_pipeline = nullptr;
    StationStatus* m_status = nullptr;
    RecentContacts* m_recent = nullptr;
    Notifications* m_notifications = nullptr;
    ManualUpload* m_manualUpload = nullptr;
    TrayIcon* m_tray = nullptr;
    QTimer* m_refreshTimer = nullptr;
    QElapsedTimer m_sinceRefresh;
    QString m_statusText;
    QString m_shownDatagram;
    qint32 m_shownCount = -1;
    QPointer<About> m_about;
    QPointer<RecentContactsView> m_recentView;
    quint16 m_portInUse = 0;
    quint16 m_reportedPort = 0;
    bool m_requestingAttention = false;
    bool m_checkingPort = false;
    bool m_headless = false;
    bool m_closingForSignal = false;
    bool m_unloaded = false;
};

// The version as the settings file and the About window write it: a blank
// before the major number, as a number-to-text conversion gives it.
QString versionText();
