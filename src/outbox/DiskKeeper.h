#pragma once

#include "logs/ErrorLog.h"
#include "logs/NonUploadedQsosLog.h"
#include "outbox/Outbox.h"
#include "settings/Settings.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <chrono>

class AppPaths;
class QTimer;

// What closing left where; only what really is on disk counts as kept.
struct ExitSummary
{
    int waiting = 0; // in outbox files: the next start sends them
    int inNotUploaded = 0;
    int rescued = 0;
    QString rescueFile;
    QStringList lost; // records written nowhere: the station prints them to standard error
};

// Everything that must reach the disk and may take its time, on a thread of
// its own so neither the window nor the socket reader ever waits for it: the
// outbox's replay and sync, the error log (its one writer), a refused
// contact's move into the not-uploaded file with its error block, and the
// settings file. What cannot be written (a full disk) is held and tried
// again every RetryInterval, and once more on finish().
class DiskKeeper final : public QObject
{
    Q_OBJECT

public:
    // A burst costs one sync; nothing waits longer than a second for one.
    static constexpr std::chrono::milliseconds DefaultSyncDelay{250};
    static constexpr std::chrono::milliseconds DefaultRetryInterval{10000};

    DiskKeeper(Outbox& outbox, const AppPaths& paths, const Settings& settings, QObject* parent = nullptr);

    // Before the keeper's thread starts.
    void setIntervals(std::chrono::milliseconds syncDelay, std::chrono::milliseconds retryInterval);

    // Any thread: something was appended to the outbox (or could not be).
    void appended();
    // Any thread: the service took the contact; it leaves the outbox at once.
    void done(quint64 key);
    // Any thread: the service refused the contact. Its error block goes to
    // the error log, then the contact to the not-uploaded file, and it leaves
    // the outbox once both are on the disk.
    void keep(quint64 key, const QString& record, const QString& title, const QString& text);
    // Any thread: one error block, stamped now.
    void report(const QString& title, const QString& text);
    // Any thread: the settings have changes queued.
    void settingsChanged();
    // Any thread: reads what the outbox holds from earlier runs (and a rescue
    // file) on the keeper's thread; replayed() follows.
    void replay();

    // Closing: everything held is tried once more and the outbox synced;
    // contacts still only in memory go to the not-uploaded file, else to the
    // rescue file. Call on the keeper's thread (or after it stopped).
    ExitSummary finish();

signals:
    // Also after a retry imported contacts from a file that could not be read before.
    void replayed(const Outbox::Replay& replay);
    void kept(quint64 key);
    // How many contacts (and error blocks) could not be written where they
    // belong, and why; 0 once everything is written.
    void heldChanged(int count, const QString& reason);
    // The settings file could not be written (ok false), or can be again.
    void settingsSaved(bool ok, const QString& reason);

private:
    // A refused contact with its block, or a block alone (key 0). The block
    // is emptied once it is in the error log.
    struct Pending
    {
        quint64 key = 0;
        QString record;
        QString block;
    };

    void post(std::function<void()> work);
    void queue(const Pending& item);
    bool write(Pending& item);
    void drain();
    void retryNow();
    void writeSettings();
    void reportHeld();
    int heldCount() const;

    Outbox& m_outbox;
    const ErrorLog m_errorLog;
    const NonUploadedQsosLog m_nonUploaded;
    const QString m_rescueFile;
    Settings m_settings;
    QTimer* m_syncTimer = nullptr;
    QTimer* m_retryTimer = nullptr;
    std::atomic<bool> m_syncPosted = false;
    QList<Pending> m_pending;
    QString m_pendingError;
    int m_reportedHeld = 0;
    bool m_settingsFailing = false;
};
