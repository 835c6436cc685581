#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The contacts Tarvex has received and not yet finished with: each is
// appended before its upload starts and leaves only when the service took
// it, or once it is safely in the not-uploaded file. A crash of the process
// loses nothing appended here; sync() makes it survive a power cut too.
//
// One line per change, readable by hand:
//   + KEY BYTES CRC32<TAB>record        a contact
//   - KEY                               that contact is done
// The record is written with \ LF and CR escaped (\\ \n \r), so a line break
// in a record can never be taken for the start of an entry after a tear;
// BYTES and CRC32 are those of the record itself, before escaping. Files of
// earlier versions, records written raw with their line breaks, still load.
// Keys rise with arrival, so they give the order. Never holds a request
// body: those carry the password.
//
// An outbox is never destroyed: one that cannot be opened is left as it is,
// new contacts go to a sibling (Outbox-2.txt, ...) and its contacts are
// imported once it can be read. A damaged entry is moved to
// Outbox.damaged.txt, never dropped.
//
// Safe to use from several threads: the capture thread appends, the disk
// thread replays, syncs and retries, the main thread removes and reads.
class Outbox final
{
public:
    struct Entry
    {
        quint64 key = 0;
        QString record;

        friend bool operator==(const Entry&, const Entry&) = default;
    };
    struct Replay
    {
        int earlier = 0;  // contacts an earlier run left, waiting: in the file at open, or imported
        int damaged = 0;  // entries moved to the damaged file
        int imported = 0; // contacts taken over from other files
        QString problem;
    };

    explicit Outbox(QString path);
    ~Outbox();

    // Quick whatever the size: chooses the file in use and takes the next key
    // from its tail. Appends may follow at once.
    void open();
    // The file in use, and why it is not the one asked for (or empty).
    QString path() const;
    QString problem() const;

    // Reads the file in use as it was at open() in bounded pieces and indexes
    // what waits there, moves damaged entries aside and imports sibling files
    // and `alsoImport` (those that exist). Appends go on meanwhile.
    Replay replay(const QStringList& alsoImport = {});

    // Gives each record a key and appends them in one write. When the write
    // fails the file is cut back to where it was and the records are held in
    // memory (their keys stay valid); returns false and says why.
    QList<quint64> append(const QStringList& records, bool* written = nullptr, QString* error = nullptr);

    // The contact is done: written as removed, or dropped from memory. An
    // outbox with nothing waiting is cut back to its header once it has grown
    // to CompactionSize (only after replay()).
    void remove(quint64 key);

    // Writes what memory holds and imports files that could not be read
    // before; true when nothing is held and nothing waits to be imported.
    bool retry(QString* error = nullptr, int* imported = nullptr);

    // Puts everything appended so far on the disk. Safe to call while
    // another thread appends; never holds up an append.
    bool sync();

    // Up to `max` waiting contacts with keys above `key`, oldest first, read
    // back from the file or from memory.
    QList<Entry> waitingAfter(quint64 key, int max) const;
    int waitingCount() const;
    int heldInMemory() const;
    bool isHeld(quint64 key) const;
    QList<Entry> heldEntries() const;
    QString lastError() const;

    static constexpr qint64 CompactionSize = 64 * 1024;
    // Longer records are not contacts; reading one as such would let a
    // damaged length make the reader swallow the file.
    static constexpr qsizetype MaxRecord = 1 << 20;

    static const QByteArray Header;
    static QByteArray encodeAdd(quint64 key, const QString& record);
    static QByteArray encodeRemove(quint64 key);
    // Pure reading of an outbox's bytes: what waits, oldest first; damaged
    // lines counted.
    static QList<Entry> parse(const QByteArray& bytes, int* damaged = nullptr);

private:
    struct Location
    {
        qint64 offset = 0;
        qint64 size = 0;
    };
    using Index = QMap<quint64, Location>;
    struct Scan
    {
        Index waiting;
        quint64 lastKey = 0;
        bool whole = true; // false: a read failed, or damaged entries could not be moved aside
    };

    static Scan scan(int fd, qint64 size, const std::function<void(qint64, QByteArrayView)>& damaged);
    static std::optional<QString> readRecord(int fd, const Location& where);
    static quint64 lastKey(int fd, qint64 size);
    bool openLocked(const QString& path, bool writable);
    bool appendLocked(const QStringList& records, QList<quint64>* keys, QString* error);
    bool writeLocked(QByteArray bytes, qint64* at, QString* error);
    void compactLocked();
    Scan moveDamaged(int fd, qint64 size, const QString& blankIn, int* damaged, QString* error);
    bool import(const QString& file, int* imported, int* damaged, QString* reason);
    bool importPending(int* imported, int* damaged);
    QString unusable(const QString& file, const QString& reason) const;

    const QString m_asked;
    mutable QMutex m_mutex;
    QString m_path;
    int m_fd = -1; // reads, and appends when m_writable
    bool m_writable = false;
    int m_syncFd = -1;
    qint64 m_replayEnd = 0;
    bool m_replayed = false;
    quint64 m_nextKey = 1;
    Index m_index;
    QMap<quint64, QString> m_held;
    QMap<QString, QString> m_pending; // files to import once they can be read, and why not yet
    QString m_lastError;
};
