#include "outbox/DiskKeeper.h"

#include "logs/LogFile.h"
#include "settings/AppPaths.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>

namespace {

QString failure(const QString& path, const QString& error)
{
    return QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error);
}

} // namespace

DiskKeeper::DiskKeeper(Outbox& outbox, const AppPaths& paths, const Settings& settings, QObject* parent)
    : QObject(parent), m_outbox(outbox), m_errorLog(paths.errorLog()), m_nonUploaded(paths.nonUploaded()),
      m_rescueFile(paths.rescueFile()), m_settings(settings), m_syncTimer(new QTimer(this)),
      m_retryTimer(new QTimer(this))
{
    m_syncTimer->setSingleShot(true);
    connect(m_syncTimer, &QTimer::timeout, this, [this] {
        m_syncPosted = false;
        m_outbox.sync();
    });
    m_retryTimer->setSingleShot(true);
    setIntervals(DefaultSyncDelay, DefaultRetryInterval);
    connect(m_retryTimer, &QTimer::timeout, this, &DiskKeeper::retryNow);
}

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

void DiskKeeper::keep(quint64 key, const QString& record, const QString& title, const QString& text)
{
    queue({key, record, ErrorLog::blockText(logTimestamp(), title, text)});
}

void DiskKeeper::report(const QString& title, const QString& text)
{
    queue({0, QString(), ErrorLog::blockText(logTimestamp(), title, text)});
}

void DiskKeeper::queue(const Pending& item)
{
    post([this, item] {
        // Behind anything already held, so the files keep their order.
        m_pending.append(item);
        drain();
        reportHeld();
    });
}

void DiskKeeper::drain()
{
    while (!m_pending.isEmpty() && write(m_pending.first()))
        m_pending.removeFirst();
}

bool DiskKeeper::write(Pending& item)
{
    QString error;
    if (!item.block.isEmpty()) {
        if (!m_errorLog.append(item.block, &error)) {
            m_pendingError = failure(m_errorLog.path(), error);
            return false;
        }
        item.block.clear();
    }
    if (item.key == 0)
        return true;
    if (!m_nonUploaded.append(item.record, &error)) {
        m_pendingError = failure(m_nonUploaded.path(), error);
        return false;
    }
    m_outbox.remove(item.key);
    emit kept(item.key);
    return true;
}

void DiskKeeper::settingsChanged()
{
    post([this] { writeSettings(); });
}

void DiskKeeper::replay()
{
    post([this] {
        emit replayed(m_outbox.replay({m_rescueFile}));
        reportHeld();
    });
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
    int imported = 0;
    m_outbox.retry(nullptr, &imported);
    if (imported > 0)
        emit replayed({m_outbox.waitingCount(), 0, imported, m_outbox.problem()});
    drain();
    if (m_settings.hasPending())
        writeSettings();
    reportHeld();
}

int DiskKeeper::heldCount() const
{
    // A refused contact held in the outbox's memory counts once.
    int count = m_outbox.heldInMemory();
    for (const Pending& item : m_pending)
        count += item.key == 0 || !m_outbox.isHeld(item.key) ? 1 : 0;
    return count;
}

void DiskKeeper::reportHeld()
{
    const int count = heldCount();
    // An outbox file that cannot be read yet is tried again too.
    if ((count > 0 || m_settingsFailing || !m_outbox.problem().isEmpty()) && !m_retryTimer->isActive())
        m_retryTimer->start();
    if (count == m_reportedHeld)
        return;
    m_reportedHeld = count;
    QString reason;
    if (!m_pending.isEmpty())
        reason = m_pendingError;
    else if (count > 0)
        reason = failure(m_outbox.path(), m_outbox.lastError());
    emit heldChanged(count, reason);
}

ExitSummary DiskKeeper::finish()
{
    m_syncTimer->stop();
    retryNow();
    m_retryTimer->stop();
    m_outbox.sync();
    ExitSummary summary;
    QList<Outbox::Entry> unwritten = m_outbox.heldEntries();
    while (!unwritten.isEmpty() && m_nonUploaded.append(unwritten.first().record)) {
        m_outbox.remove(unwritten.takeFirst().key);
        ++summary.inNotUploaded;
    }
    QByteArray rescue;
    for (const Outbox::Entry& entry : std::as_const(unwritten))
        rescue += Outbox::encodeAdd(entry.key, entry.record);
    if (!rescue.isEmpty())
        AppPaths::makePrivateFolder(QFileInfo(m_rescueFile).absolutePath());
    if (!rescue.isEmpty() && appendToFileSynced(m_rescueFile, rescue, nullptr, Outbox::Header)) {
        summary.rescued = int(unwritten.size());
        summary.rescueFile = m_rescueFile;
        for (const Outbox::Entry& entry : std::as_const(unwritten))
            m_outbox.remove(entry.key);
        unwritten.clear();
    }
    for (const Outbox::Entry& entry : std::as_const(unwritten))
        summary.lost.append(entry.record);
    for (const Pending& item : std::as_const(m_pending)) {
        if (!item.block.isEmpty())
            qWarning("Not written to %s (%s):\n%s", qPrintable(m_errorLog.path()), qPrintable(m_pendingError),
                     qPrintable(item.block));
    }
    summary.waiting = m_outbox.waitingCount() - m_outbox.heldInMemory();
    return summary;
}
