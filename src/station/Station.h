#pragma once

#include "capture/ContactCapture.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "upload/RealtimeUploader.h"

#include <QObject>
#include <QThread>

#include <chrono>
#include <memory>

class HttpClient;
class LoginSource;
class QTimer;
class RecentContacts;
class StatusModel;
struct CaptureBatch;

// Every wait the station makes, so tests need not sit them out.
struct StationTimings
{
    std::chrono::milliseconds rebind = ContactCapture::DefaultRebindInterval;
    std::chrono::milliseconds outboxSync = DiskKeeper::DefaultSyncDelay;
    std::chrono::milliseconds diskRetry = DiskKeeper::DefaultRetryInterval;
    std::chrono::milliseconds firstPause = RealtimeUploader::FirstPause;
    std::chrono::milliseconds longestPause = RealtimeUploader::LongestPause;
    std::chrono::milliseconds requestTimeout = RealtimeUploader::DefaultTimeout;
    // A change of the count is stored at once, unless one was stored less
    // than this long ago: then the latest follows when the time is up.
    std::chrono::milliseconds countStore{1000};
    // Closing waits this long at most for uploads on their way.
    std::chrono::milliseconds exitGrace{2000};
};

// The running station: the outbox, the capture and disk threads, the uploader,
// the error log and the one status model. main() owns it; the window, the tray
// and the headless report are handed it, read its status and pass on what the
// operator does.
class Station final : public QObject
{
    Q_OBJECT

public:
    using Timings = StationTimings;

    explicit Station(const AppPaths& paths, const Timings& timings = {},
                     int receiveBuffer = ContactCapture::DefaultReceiveBuffer, QObject* parent = nullptr);
    ~Station() override;

    // Settings file, outbox, listener, debug switch, addresses, login, automatic
    // upload, count and error state, then the contacts an earlier run left.
    void start();
    // Every datagram received goes into the outbox and everything held is
    // written; returns what was left where, for standard error.
    QStringList stop();

    const AppPaths& paths() const { return m_paths; }
    const Settings& settings() const { return m_settings; }
    StatusModel& status() { return *m_status; }
    RecentContacts& recent() { return *m_recent; }
    LoginSource& login() { return *m_login; }
    // The one HTTP client of the process: its connections are shared.
    HttpClient& http() { return *m_http; }

    // What the operator does.
    void bindPort(quint16 port);
    void setAutoUpload(bool on);
    void setDebug(bool on);
    void resetCount();
    // A job of the operator's (a file upload) says how it goes.
    void showJob(const QString& text);
    // The operator has seen the error indicator.
    void acknowledgeErrors();
    // The one road into the error log.
    void reportError(const QString& title, const QString& text);

private:
    void startThreads();
    void handleBatch(const CaptureBatch& batch);
    void onVerdict(const UploadResult& result);
    void followUploader();
    void onNotListening(quint16 port, const QString& reason);
    // Into the error log and onto the failure line (`line`, when it says it shorter).
    void reportFailure(const QString& title, const QString& text, const QString& line = {});
    void applyCaptureSettings();
    void applyAutoUpload(bool on);
    void storeCount();
    void onReplayed(const Outbox::Replay& replay);
    // Text from others, fit for the error log.
    QString safe(const QString& text) const;

    AppPaths m_paths;
    Settings m_settings;
    Timings m_timings;
    int m_receiveBuffer;
    std::unique_ptr<Outbox> m_outbox;
    QThread m_captureThread;
    QThread m_diskThread;
    ContactCapture* m_capture = nullptr;
    DiskKeeper* m_keeper = nullptr;
    HttpClient* m_http = nullptr;
    RealtimeUploader* m_uploader = nullptr;
    StatusModel* m_status = nullptr;
    RecentContacts* m_recent = nullptr;
    LoginSource* m_login = nullptr;
    QTimer* m_countStore = nullptr;
    bool m_countPending = false;
    quint16 m_reportedPort = 0;
    int m_catchUpLeft = 0; // of the contacts an earlier run left
    bool m_replayed = false;
    bool m_started = false;
    bool m_stopped = false;
};
