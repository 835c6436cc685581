#include "outbox/Outbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<quint32, 256> crcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

quint32 crc32(QByteArrayView bytes)
{
    static constexpr std::array<quint32, 256> table = crcTable();
    quint32 c = 0xFFFFFFFFu;
    for (const char byte : bytes)
        c = table[(c ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Parses "digits" then `end` at `at`; moves `at` past both.
bool readNumber(const QByteArray& bytes, qsizetype& at, char end, quint64& value, int base = 10)
{
    const qsizetype from = at;
    while (at < bytes.size() && bytes[at] != end && at - from < 20)
        ++at;
    if (at >= bytes.size() || bytes[at] != end || at == from)
        return false;
    bool ok = false;
    value = bytes.mid(from, at - from).toULongLong(&ok, base);
    ++at;
    return ok;
}

} // namespace

const QByteArray Outbox::Header =
    "Tarvex outbox: contacts waiting for Corvane, oldest first. Do not edit while Tarvex runs.\n";

Outbox::Outbox(QString path) : m_path(std::move(path)) {}

Outbox::~Outbox()
{
    if (m_syncFd >= 0)
        ::close(m_syncFd);
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray Outbox::encodeAdd(quint64 key, const QString& record)
{
    const QByteArray bytes = record.toUtf8();
    return "+ " + QByteArray::number(key) + ' ' + QByteArray::number(bytes.size()) + ' ' +
           QByteArray::number(crc32(bytes), 16).rightJustified(8, '0') + '\t' + bytes + '\n';
}

QByteArray Outbox::encodeRemove(quint64 key)
{
    return "- " + QByteArray::number(key) + '\n';
}

QList<Outbox::Entry> Outbox::replay(const QByteArray& bytes, int* skipped)
{
    QMap<quint64, QString> waiting;
    int damaged = 0;
    qsizetype at = bytes.startsWith(Header) ? Header.size() : 0;
    while (at < bytes.size()) {
        const qsizetype lineStart = at;
        bool ok = false;
        quint64 key = 0;
        if (bytes.mid(at, 2) == "+ ") {
            at += 2;
            quint64 size = 0;
            quint64 crc = 0;
            ok = readNumber(bytes, at, ' ', key) && readNumber(bytes, at, ' ', size) &&
                 readNumber(bytes, at, '\t', crc, 16) && size <= quint64(bytes.size() - at) &&
                 at + qsizetype(size) < bytes.size() && bytes[at + qsizetype(size)] == '\n';
            if (ok) {
                const QByteArray record = bytes.mid(at, qsizetype(size));
                ok = crc32(record) == crc;
                if (ok)
                    waiting.insert(key, QString::fromUtf8(record));
                at += qsizetype(size) + 1;
            }
        } else if (bytes.mid(at, 2) == "- ") {
            at += 2;
            ok = readNumber(bytes, at, '\n', key);
            if (ok)
                waiting.remove(key);
        }
        if (!ok) {
            // Torn or damaged: go on at the next line, which a crash cannot have touched.
            if (bytes.mid(lineStart, 1) != "\n")
                ++damaged;
            const qsizetype next = bytes.indexOf('\n', lineStart);
            at = next < 0 ? bytes.size() : next + 1;
        }
    }
    if (skipped)
        *skipped = damaged;
    QList<Entry> entries;
    entries.reserve(waiting.size());
    for (auto it = waiting.cbegin(); it != waiting.cend(); ++it)
        entries.append({it.key(), it.value()});
    return entries;
}

bool Outbox::rewrite(const QList<Entry>& entries, QString* error)
{
    QByteArray bytes = Header;
    for (const Entry& entry : entries)
        bytes += encodeAdd(entry.key, entry.record);
    const QByteArray temporary = QFile::encodeName(m_path + QStringLiteral(".new"));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && writeAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!ok && error)
        *error = systemError();
    if (fd >= 0)
        ::close(fd);
    if (ok && ::rename(temporary.constData(), QFile::encodeName(m_path).constData()) != 0) {
        ok = false;
        if (error)
            *error = systemError();
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    // The rename itself must survive a power cut, or the old file comes back.
    const int dir =
        ::open(QFile::encodeName(QFileInfo(m_path).absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

QList<Outbox::Entry> Outbox::open()
{
    QMutexLocker lock(&m_mutex);
    QByteArray previous;
    QFile existing(m_path);
    if (existing.open(QIODevice::ReadOnly))
        previous = existing.readAll();
    existing.close();

    QList<Entry> waiting = replay(previous);
    QList<Entry> renumbered;
    renumbered.reserve(waiting.size());
    quint64 key = 1;
    for (const Entry& entry : std::as_const(waiting))
        renumbered.append({key++, entry.record});

    QString error;
    if (rewrite(renumbered, &error)) {
        waiting = renumbered;
    } else if (!QFileInfo::exists(m_path)) {
        // Nothing on the disk at all: memory holds them until space returns.
        waiting = renumbered;
        for (const Entry& entry : std::as_const(waiting))
            m_held.insert(entry.key, entry.record);
    }
    // Otherwise the old file stands as it was, and its keys stay valid.
    for (const Entry& entry : std::as_const(waiting)) {
        if (!m_held.contains(entry.key))
            m_onDisk.insert(entry.key);
        m_nextKey = std::max(m_nextKey, entry.key + 1);
    }

    m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        m_lastError = error.isEmpty() ? systemError() : error;
        for (const Entry& entry : std::as_const(waiting))
            m_held.insert(entry.key, entry.record);
        m_onDisk.clear();
    } else {
        m_syncFd = ::dup(m_fd);
        if (!error.isEmpty())
            m_lastError = error;
    }
    return waiting;
}

bool Outbox::writeLocked(const QByteArray& bytes, QString* error)
{
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_lastError = systemError();
            if (error)
                *error = m_lastError;
            return false;
        }
        m_syncFd = ::dup(m_fd);
    }
    const off_t before = ::lseek(m_fd, 0, SEEK_END);
    if (writeAll(m_fd, bytes))
        return true;
    m_lastError = systemError();
    if (error)
        *error = m_lastError;
    // A torn entry would be skipped at the next start anyway; cutting it off
    // keeps the next entry from being glued to it.
    if (before >= 0) {
        [[maybe_unused]] const int cut = ::ftruncate(m_fd, before);
    }
    return false;
}

QList<quint64> Outbox::append(const QStringList& records, bool* written, QString* error)
{
    QMutexLocker lock(&m_mutex);
    QList<quint64> keys;
    keys.reserve(records.size());
    QByteArray bytes;
    // Anything held goes first, so the file keeps the order of arrival.
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        bytes += encodeAdd(it.key(), it.value());
    for (const QString& record : records) {
        keys.append(m_nextKey);
        bytes += encodeAdd(m_nextKey++, record);
    }
    const bool ok = writeLocked(bytes, error);
    if (ok) {
        for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
            m_onDisk.insert(it.key());
        m_held.clear();
        for (const quint64 key : std::as_const(keys))
            m_onDisk.insert(key);
    } else {
        for (qsizetype i = 0; i < keys.size(); ++i)
            m_held.insert(keys[i], records[i]);
    }
    if (written)
        *written = ok;
    return keys;
}

void Outbox::remove(quint64 key)
{
    QMutexLocker lock(&m_mutex);
    if (m_held.remove(key) == 0 && m_onDisk.remove(key)) {
        // A removal that does not reach the file only means the contact is
        // sent once more after a restart, and a "Duplicate" then accepts it.
        writeLocked(encodeRemove(key), nullptr);
    }
    if (m_onDisk.isEmpty() && m_held.isEmpty())
        compactLocked();
}

void Outbox::compactLocked()
{
    if (m_fd < 0)
        return;
    // A quiet stream empties the outbox after every contact; cutting it back
    // each time would cost a metadata write per contact for a few bytes.
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    if (size < CompactionSize)
        return;
    // Nothing waits, so the header alone is the whole outbox.
    if (::ftruncate(m_fd, 0) == 0)
        writeAll(m_fd, Header);
}

bool Outbox::retry(QString* error)
{
    QMutexLocker lock(&m_mutex);
    if (m_held.isEmpty())
        return true;
    QByteArray bytes;
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        bytes += encodeAdd(it.key(), it.value());
    if (!writeLocked(bytes, error))
        return false;
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        m_onDisk.insert(it.key());
    m_held.clear();
    return true;
}

bool Outbox::sync()
{
    int fd = -1;
    {
        QMutexLocker lock(&m_mutex);
        fd = m_syncFd;
    }
    return fd < 0 || ::fdatasync(fd) == 0;
}

int Outbox::waitingCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_onDisk.size() + m_held.size());
}

int Outbox::heldInMemory() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_held.size());
}

bool Outbox::isHeld(quint64 key) const
{
    QMutexLocker lock(&m_mutex);
    return m_held.contains(key);
}

QStringList Outbox::heldRecords() const
{
    QMutexLocker lock(&m_mutex);
    return m_held.values();
}

QString Outbox::lastError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}
