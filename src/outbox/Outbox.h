#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// The contacts Tarvex has received and not yet finished with: each is
// appended before its upload starts and leaves only when the service took
// it, or once it is safely in the not-uploaded file. A crash of the process
// loses nothing appended here; sync() makes it survive a power cut too.
//
// One line per change, readable by hand:
//   + KEY BYTES CRC32<TAB>record        a contact, oldest first
//   - KEY                               that contact is done
// BYTES and CRC32 (of the UTF-8 record) let a torn last line from a crash be
// recognised and skipped. Keys rise with arrival, so they give the order.
// Never holds a request body: those carry the password.
//
// Safe to use from several threads: the capture thread appends, the disk
// thread removes, syncs and retries.
class Outbox final
{
public:
    struct Entry
    {
        quint64 key = 0;
        QString record;
    };

    explicit Outbox(QString path);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Reads what an earlier run left, writes the file anew with only the
    // contacts still waiting, and opens it for appending. Returns those
    // contacts, oldest first. When the file cannot be written, they are held
    // in memory and written by a later append() or retry().
    QList<Entry> open();

    // Gives each record a key and appends them in one write. When the write
    // fails the file is cut back to where it was and the records are held in
    // memory (their keys stay valid); returns false and says why.
    QList<quint64> append(const QStringList& records, bool* written = nullptr, QString* error = nullptr);

    // The contact is done: written as removed, or dropped from memory. An
    // outbox with nothing waiting is emptied (compacted) at once, once it is
    // worth it (CompactionSize).
    void remove(quint64 key);

    // Writes what memory holds; true when nothing is held any more.
    bool retry(QString* error = nullptr);

    // Puts everything appended so far on the disk. Safe to call while
    // another thread appends; never holds up an append.
    bool sync();

    int waitingCount() const;
    int heldInMemory() const;
    bool isHeld(quint64 key) const;
    QStringList heldRecords() const;
    QString lastError() const;
    const QString& path() const { return m_path; }

    // An outbox with nothing waiting is cut back to its header once it has
    // grown to this size.
    static constexpr off_t CompactionSize = 64 * 1024;

    static const QByteArray Header;
    static QByteArray encodeAdd(quint64 key, const QString& record);
    static QByteArray encodeRemove(quint64 key);
    // The contacts still waiting in an outbox's bytes, oldest first; a line
    // that is torn or damaged is skipped and counted in `skipped`.
    static QList<Entry> replay(const QByteArray& bytes, int* skipped = nullptr);

private:
    bool writeLocked(const QByteArray& bytes, QString* error);
    bool rewrite(const QList<Entry>& entries, QString* error);
    void compactLocked();

    const QString m_path;
    mutable QMutex m_mutex;
    int m_fd = -1;
    int m_syncFd = -1;
    quint64 m_nextKey = 1;
    QSet<quint64> m_onDisk;
    QMap<quint64, QString> m_held;
    QString m_lastError;
};
