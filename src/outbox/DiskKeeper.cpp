#include "outbox/DiskKeeper.h"

#include "outbox/Outbox.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>

DiskKeeper::DiskKeeper(Outbox& outbox, const QString& nonUploadedPath, const Settings& settings,
                       QObject* parent)
    : QObject(parent), m_outbox(outbox), m_nonUploaded(nonUploadedPath), m_settings(settings),
      m_syncTimer(new QTimer(this)), m_retryTimer(new QTimer(this))
{
    m_syncTimer->setSingleShot(true);
    m_syncTimer->setInterval(DefaultSyncDelay);
    connect(m_syncTimer, &QTimer::timeout, this, [this] {
        m_syncPosted = false;
        m_outbox.sync();
    });
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(DefaultRetryInterval);
    connect(m_retryTimer, &QTimer::timeout, this, &DiskKeeper::retryNow);
}

DiskKeeper::~DiskKeeper() = default;

void DiskKeeper::setIntervals(std::chrono::milliseconds syncDelay, std::chrono::milliseconds retryInterval)
{
    m_syncTimer->setInterval(syncDelay);
    m_retryTimer->setInterval(retryInterval);
}

void DiskKeeper::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void DiskKeeper::appended()
{
    // One request on its way is enough: a burst of appends costs one sync.
    if (m_syncPosted.exchange(true))
        return;
    post([this] {
        if (!m_syncTimer->isActive())
            m_syncTimer->start();
        reportHeld();
    });
}

void DiskKeeper::done(quint64 key)
{
    // One small write without a sync, on the caller's thread: waking the
    // disk thread for every accepted contact would cost more than the write.
    m_outbox.remove(key);
}

void DiskKeeper::keep(quint64 key, const QString& record)
{
    post([this, key, record] {
        const PendingKeep keep{key, record};
        // Behind anything already held, so the file keeps their order.
        if (!m_pendingKeeps.isEmpty() || !keepNow(keep))
            m_pendingKeeps.append(keep);
        reportHeld();
    });
}

bool DiskKeeper::keepNow(const PendingKeep& keep)
{
    QString error;
    if (!m_nonUploaded.append(keep.record, &error)) {
        m_keepError = QStringLiteral("%1: %2").arg(QFileInfo(m_nonUploaded.path()).fileName(), error);
        return false;
    }
    m_outbox.remove(keep.key);
    emit kept(keep.key);
    return true;
}

void DiskKeeper::settingsChanged()
{
    post([this] { writeSettings(); });
}

void DiskKeeper::writeSettings()
{
    QString error;
    const bool ok = m_settings.writePending(&error);
    if (ok == !m_settingsFailing)
        return;
    m_settingsFailing = !ok;
    emit settingsSaved(ok, error);
    if (!ok && !m_retryTimer->isActive())
        m_retryTimer->start();
}

void DiskKeeper::retryNow()
{
    m_outbox.retry();
    while (!m_pendingKeeps.isEmpty() && keepNow(m_pendingKeeps.first()))
        m_pendingKeeps.removeFirst();
    if (m_settings.hasPending())
        writeSettings();
    reportHeld();
}

void DiskKeeper::reportHeld()
{
    const int count = heldCount();
    if (count > 0 || m_settingsFailing) {
        if (!m_retryTimer->isActive())
            m_retryTimer->start();
    }
    if (count == m_reportedHeld)
        return;
    m_reportedHeld = count;
    QString reason;
    if (!m_pendingKeeps.isEmpty())
        reason = m_keepError;
    else if (count > 0)
        reason = QStringLiteral("%1: %2").arg(QFileInfo(m_outbox.path()).fileName(), m_outbox.lastError());
    emit heldChanged(count, reason);
}

void DiskKeeper::finish()
{
    m_syncTimer->stop();
    m_retryTimer->stop();
    retryNow();
    m_retryTimer->stop();
    m_outbox.sync();
    // Nowhere left to put them: the records go to standard error, where the
    // operator (or the journal) can still copy them.
    for (const QString& record : m_outbox.heldRecords())
        qWarning("Contact not written to %s (%s): %s", qPrintable(m_outbox.path()),
                 qPrintable(m_outbox.lastError()), qPrintable(record));
}

int DiskKeeper::heldCount() const
{
    // A contact held for the file may be held in the outbox's memory as well; it counts once.
    int count = m_outbox.heldInMemory();
    for (const PendingKeep& keep : m_pendingKeeps) {
        if (!m_outbox.isHeld(keep.key))
            ++count;
    }
    return count;
}
