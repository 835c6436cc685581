#pragma once

#include "logs/NonUploadedQsosLog.h"
#include "settings/Settings.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <chrono>

class Outbox;
class QTimer;

// Everything that must reach the disk and may take its time, on a thread of
// its own so neither the window nor the socket reader ever waits for it: the
// outbox's sync, a refused contact's move into the not-uploaded file, and the
// settings file. What cannot be written (a full disk) is held and tried again
// every RetryInterval, and once more on finish().
class DiskKeeper final : public QObject
{
    Q_OBJECT

public:
    // A burst costs one sync; nothing waits longer than a second for one.
    static constexpr std::chrono::milliseconds DefaultSyncDelay{250};
    static constexpr std::chrono::milliseconds DefaultRetryInterval{10000};

    DiskKeeper(Outbox& outbox, const QString& nonUploadedPath, const Settings& settings,
               QObject* parent = nullptr);
    ~DiskKeeper() override;

    // Before the keeper's thread starts.
    void setIntervals(std::chrono::milliseconds syncDelay, std::chrono::milliseconds retryInterval);

    // Any thread: something was appended to the outbox (or could not be).
    void appended();
    // Any thread: the service took the contact; it leaves the outbox at once.
    void done(quint64 key);
    // Any thread: the service refused the contact; it leaves the outbox once
    // it is synced into the not-uploaded file.
    void keep(quint64 key, const QString& record);
    // Any thread: the settings have changes queued.
    void settingsChanged();

    // Closing: everything held is tried once more, the outbox synced and the
    // settings written. Call on the keeper's thread (or after it stopped).
    void finish();

    int heldCount() const;

signals:
    void kept(quint64 key);
    // How many contacts could not be written where they belong, and why; 0
    // once everything is written.
    void heldChanged(int count, const QString& reason);
    // The settings file could not be written (ok false), or can be again.
    void settingsSaved(bool ok, const QString& reason);

private:
    struct PendingKeep
    {
        quint64 key;
        QString record;
    };

    void post(std::function<void()> work);
    bool keepNow(const PendingKeep& keep);
    void retryNow();
    void writeSettings();
    void reportHeld();

    Outbox& m_outbox;
    NonUploadedQsosLog m_nonUploaded;
    Settings m_settings;
    QTimer* m_syncTimer = nullptr;
    QTimer* m_retryTimer = nullptr;
    std::atomic<bool> m_syncPosted = false;
    QList<PendingKeep> m_pendingKeeps;
    QString m_keepError;
    int m_reportedHeld = 0;
    bool m_settingsFailing = false;
};
