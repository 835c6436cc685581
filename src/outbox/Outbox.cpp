#include "outbox/Outbox.h"

#include "logs/LogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

enum class Kind
{
    Add,
    Remove,
    Blank,
    Damaged
};

struct Piece
{
    Kind kind = Kind::Damaged;
    quint64 key = 0;
    QByteArray record;
    qsizetype size = 0; // bytes taken; 0: more are needed to tell
};

quint32 checksum(QByteArrayView bytes)
{
    return quint32(::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// Digits then `end` at `at`; moves `at` past both. Keys are never 0.
bool readNumber(QByteArrayView bytes, qsizetype& at, char end, quint64& value, int base = 10)
{
    const qsizetype from = at;
    while (at < bytes.size() && at - from <= 20 && std::isxdigit(static_cast<unsigned char>(bytes[at])))
        ++at;
    if (at == from || at >= bytes.size() || bytes[at] != end)
        return false;
    bool ok = false;
    value = bytes.sliced(from, at - from).toULongLong(&ok, base);
    ++at;
    return ok;
}

bool unescape(QByteArrayView text, QByteArray& out)
{
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char next = ++i < text.size() ? text[i] : '\0';
        if (next != '\\' && next != 'n' && next != 'r')
            return false;
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
    }
    return true;
}

Piece readEntry(QByteArrayView bytes, bool atEnd)
{
    Piece piece;
    const qsizetype newline = bytes.indexOf('\n');
    if (newline < 0 && !atEnd)
        return piece;
    const QByteArrayView line = bytes.first(newline < 0 ? bytes.size() : newline);
    piece.size = newline < 0 ? bytes.size() : newline + 1;
    qsizetype at = 2;
    if (line.startsWith("- ") && readNumber(bytes, at, '\n', piece.key) && piece.key != 0) {
        piece.kind = Kind::Remove;
        return piece;
    }
    quint64 size = 0;
    quint64 crc = 0;
    if (line.startsWith("+ ") && readNumber(line, at, ' ', piece.key) && piece.key != 0 &&
        readNumber(line, at, ' ', size) && readNumber(line, at, '\t', crc, 16)) {
        if (unescape(line.sliced(at), piece.record) && quint64(piece.record.size()) == size &&
            checksum(piece.record) == crc) {
            piece.kind = Kind::Add;
            return piece;
        }
        // Written raw by an earlier version, line breaks and all.
        const qsizetype end = at + qsizetype(size);
        if (size <= quint64(Outbox::MaxRecord) && end >= bytes.size() && !atEnd)
            return Piece{};
        if (size <= quint64(Outbox::MaxRecord) && end < bytes.size() && bytes[end] == '\n' &&
            checksum(bytes.sliced(at, qsizetype(size))) == crc) {
            piece.kind = Kind::Add;
            piece.record = bytes.sliced(at, qsizetype(size)).toByteArray();
            piece.size = end + 1;
            return piece;
        }
    }
    // Blank lines are where damaged entries were moved aside.
    const bool blank = line == QByteArrayView(Outbox::Header).chopped(1) ||
                       std::all_of(line.begin(), line.end(), [](char c) { return c == ' '; });
    piece.kind = blank ? Kind::Blank : Kind::Damaged;
    return piece;
}

QList<Outbox::Entry> listOf(const QMap<quint64, QString>& records)
{
    QList<Outbox::Entry> result;
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        result.append({it.key(), it.value()});
    return result;
}

// `file`'s name with `middle` between its base name and its suffix, in its folder.
QString beside(const QString& file, const QString& middle)
{
    const QFileInfo info(file);
    return info.dir().filePath(info.completeBaseName() + middle + info.suffix());
}

bool exists(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

const QByteArray Outbox::Header =
    "Tarvex outbox: contacts waiting for Corvane, oldest first. Do not edit while Tarvex runs.\n";

Outbox::Outbox(QString path) : m_asked(std::move(path)), m_path(m_asked) {}

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
    QByteArray escaped;
    escaped.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        if (c == '\\' || c == '\n' || c == '\r')
            escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
        else
            escaped += c;
    }
    return "+ " + QByteArray::number(key) + ' ' + QByteArray::number(bytes.size()) + ' ' +
           QByteArray::number(checksum(bytes), 16).rightJustified(8, '0') + '\t' + escaped + '\n';
}

QByteArray Outbox::encodeRemove(quint64 key)
{
    return "- " + QByteArray::number(key) + '\n';
}

QList<Outbox::Entry> Outbox::parse(const QByteArray& bytes, int* damaged)
{
    QMap<quint64, QString> waiting;
    int count = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        const Piece piece = readEntry(QByteArrayView(bytes).sliced(at), true);
        if (piece.kind == Kind::Add)
            waiting.insert(piece.key, QString::fromUtf8(piece.record));
        else if (piece.kind == Kind::Remove)
            waiting.remove(piece.key);
        else if (piece.kind == Kind::Damaged)
            ++count;
        at += piece.size;
    }
    if (damaged)
        *damaged = count;
    return listOf(waiting);
}

Outbox::Scan Outbox::scan(int fd, qint64 size, const std::function<void(qint64, QByteArrayView)>& damaged)
{
    constexpr qsizetype Chunk = 1 << 20;
    Scan result;
    QByteArray buffer;
    qint64 bufferStart = 0;
    qint64 readTo = 0;
    qsizetype at = 0;
    while (true) {
        // A line too long to be an entry is taken as it is, whatever follows.
        const bool atEnd = readTo >= size || buffer.size() - at > 2 * MaxRecord + 64;
        const Piece piece = readEntry(QByteArrayView(buffer).sliced(at), atEnd);
        if (piece.size == 0 && atEnd)
            break;
        if (piece.size == 0) {
            buffer.remove(0, at);
            bufferStart += at;
            at = 0;
            const qsizetype old = buffer.size();
            buffer.resize(old + qsizetype(std::min<qint64>(Chunk, size - readTo)));
            const ssize_t n = ::pread(fd, buffer.data() + old, size_t(buffer.size() - old), readTo);
            if (n <= 0) {
                result.whole = n == 0; // the file is shorter than it was
                size = readTo;
            }
            buffer.resize(old + std::max<qsizetype>(n, 0));
            readTo += std::max<qsizetype>(n, 0);
            continue;
        }
        if (piece.kind == Kind::Add)
            result.waiting.insert(piece.key, {bufferStart + at, piece.size});
        else if (piece.kind == Kind::Remove)
            result.waiting.remove(piece.key);
        else if (piece.kind == Kind::Damaged)
            damaged(bufferStart + at, QByteArrayView(buffer).sliced(at, piece.size));
        if (piece.kind == Kind::Add || piece.kind == Kind::Remove)
            result.lastKey = std::max(result.lastKey, piece.key);
        at += piece.size;
    }
    return result;
}

std::optional<QString> Outbox::readRecord(int fd, const Location& where)
{
    QByteArray bytes(where.size, Qt::Uninitialized);
    if (::pread(fd, bytes.data(), size_t(bytes.size()), where.offset) != bytes.size())
        return std::nullopt;
    const Piece piece = readEntry(bytes, true);
    if (piece.kind != Kind::Add)
        return std::nullopt;
    return QString::fromUtf8(piece.record);
}

quint64 Outbox::lastKey(int fd, qint64 size)
{
    // Keys rise through the file, so the last whole contact has the highest
    // key yet; removals after it name lower ones. The window grows until it
    // holds a contact: a long record or many removals may fill the tail.
    for (qint64 window = 64 * 1024;; window *= 4) {
        const qint64 start = std::max<qint64>(0, size - window);
        QByteArray bytes(size - start, Qt::Uninitialized);
        if (::pread(fd, bytes.data(), size_t(bytes.size()), start) != bytes.size())
            return 0;
        quint64 key = 0;
        bool added = false;
        qsizetype at = start == 0 ? 0 : bytes.indexOf('\n') + 1;
        if (at == 0 && start > 0) // one line fills the window
            at = bytes.size();
        while (at < bytes.size()) {
            const Piece piece = readEntry(QByteArrayView(bytes).sliced(at), true);
            if (piece.kind == Kind::Add || piece.kind == Kind::Remove)
                key = std::max(key, piece.key);
            added = added || piece.kind == Kind::Add;
            at += piece.size;
        }
        if (added || start == 0)
            return key;
    }
}

bool Outbox::openLocked(const QString& path, bool writable)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    if (writable) {
        // Created exclusively, so a link planted where it would be is never followed.
        fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    } else {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    }
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    if (fd < 0)
        return false;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_path = path;
    m_writable = writable;
    if (writable && m_syncFd < 0)
        m_syncFd = ::dup(fd);
    return true;
}

void Outbox::open()
{
    QMutexLocker lock(&m_mutex);
    // The first file that takes appends; else one that can at least be read
    // (its contacts are sent, new ones held in memory); else nothing yet.
    QString readable;
    for (int n = 1;; ++n) {
        const QString candidate = n == 1 ? m_asked : beside(m_asked, QStringLiteral("-%1.").arg(n));
        if (openLocked(candidate, true))
            break;
        m_lastError = systemError();
        if (!exists(candidate)) { // the folder takes no new file
            if (readable.isEmpty() || !openLocked(readable, false))
                m_path = candidate;
            break;
        }
        if (n == 1)
            m_pending.insert(m_asked, m_lastError);
        if (readable.isEmpty() && ::eaccess(QFile::encodeName(candidate).constData(), R_OK) == 0)
            readable = candidate;
    }
    m_pending.remove(m_path);
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
        it.value() = unusable(it.key(), it.value());
    if (m_fd < 0)
        return;
    qint64 size = std::max<qint64>(::lseek(m_fd, 0, SEEK_END), 0);
    char last = '\n';
    if (m_writable && size == 0 && writeAll(m_fd, Header))
        size = Header.size();
    else if (m_writable && ::pread(m_fd, &last, 1, size - 1) == 1 && last != '\n' && writeAll(m_fd, "\n"))
        ++size; // a torn last line stays a line of its own, not the start of the next entry
    m_replayEnd = size;
    m_nextKey = lastKey(m_fd, size) + 1;
}

QString Outbox::path() const
{
    QMutexLocker lock(&m_mutex);
    return m_path;
}

QString Outbox::problem() const
{
    QMutexLocker lock(&m_mutex);
    QStringList texts = m_pending.values();
    texts.removeAll(QString());
    return texts.join(QLatin1Char('\n'));
}

QString Outbox::unusable(const QString& file, const QString& reason) const
{
    struct stat info;
    const QByteArray name = QFile::encodeName(file);
    QString fix = QStringLiteral("chmod u+rw '%1'").arg(file);
    if (::stat(name.constData(), &info) == 0 && info.st_uid != ::geteuid()) {
        const passwd* user = ::getpwuid(::geteuid());
        fix = QStringLiteral("sudo chown %1: '%2'")
                  .arg(QString::fromLocal8Bit(user ? user->pw_name : ""), file);
    }
    QString text =
        QStringLiteral("%1 cannot be used (%2): it is left as it is").arg(QFileInfo(file).fileName(), reason);
    if (file != m_path)
        text += QStringLiteral(", new contacts are kept in %1").arg(QFileInfo(m_path).fileName());
    return text +
           QStringLiteral(", and the contacts in it are sent once Tarvex can read it. To allow that: ") + fix;
}

Outbox::Scan Outbox::moveDamaged(int fd, qint64 size, const QString& blankIn, int* damaged, QString* error)
{
    const QString aside = beside(m_asked, QStringLiteral(".damaged."));
    QByteArray lines;
    QList<Location> spots;
    bool moved = true;
    const auto flush = [&] {
        moved = moved && (lines.isEmpty() || appendToFileSynced(aside, lines, error));
        lines.clear();
    };
    Scan found = scan(fd, size, [&](qint64 offset, QByteArrayView line) {
        lines += line;
        if (!line.endsWith('\n'))
            lines += '\n';
        spots.append({offset, line.size()});
        if (lines.size() >= MaxRecord)
            flush();
    });
    flush();
    found.whole = found.whole && moved;
    if (moved)
        *damaged += int(spots.size());
    if (!moved || blankIn.isEmpty() || spots.isEmpty())
        return found;
    // Moved aside and synced: blanked here, so the next start does not move them again.
    const int out = ::open(QFile::encodeName(blankIn).constData(), O_WRONLY | O_CLOEXEC);
    if (out < 0)
        return found;
    for (const Location& spot : std::as_const(spots)) {
        const QByteArray blanks(spot.size - 1, ' ');
        if (::pwrite(out, blanks.constData(), size_t(blanks.size()), spot.offset) != blanks.size())
            break;
    }
    ::close(out);
    return found;
}

Outbox::Replay Outbox::replay(const QStringList& alsoImport)
{
    Replay result;
    int fd = -1;
    qint64 size = 0;
    QString path;
    {
        QMutexLocker lock(&m_mutex);
        fd = m_fd < 0 ? -1 : ::dup(m_fd);
        size = m_replayEnd;
        path = m_path;
    }
    // No lock while the file is read: appends go on behind the part read.
    QString error;
    const Scan found = fd < 0 ? Scan{} : moveDamaged(fd, size, path, &result.damaged, &error);
    if (fd >= 0)
        ::close(fd);

    QStringList others = alsoImport;
    const QFileInfo asked(m_asked);
    const QRegularExpression siblingName(QStringLiteral("^%1-[0-9]+\\.%2$")
                                             .arg(QRegularExpression::escape(asked.completeBaseName()),
                                                  QRegularExpression::escape(asked.suffix())));
    for (const QString& name : asked.dir().entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (siblingName.match(name).hasMatch())
            others.append(asked.dir().filePath(name));
    }
    {
        QMutexLocker lock(&m_mutex);
        m_index.insert(found.waiting);
        m_nextKey = std::max(m_nextKey, found.lastKey + 1);
        m_replayed = true;
        if (m_index.isEmpty() && m_held.isEmpty())
            compactLocked();
        for (const QString& other : std::as_const(others)) {
            if (other != m_path && !m_pending.contains(other) && exists(other))
                m_pending.insert(other, QString());
        }
    }
    importPending(&result.imported, &result.damaged);
    // Not waitingCount(): contacts appended since the open are this run's own.
    result.earlier = int(found.waiting.size()) + result.imported;
    result.problem = problem();
    return result;
}

bool Outbox::import(const QString& file, int* imported, int* damaged, QString* reason)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        *reason = systemError();
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const Scan found = moveDamaged(fd, info.st_size, QString(), damaged, reason);
    bool ok = found.whole;
    if (!ok && reason->isEmpty())
        *reason = QStringLiteral("it could not be read whole");
    // In batches, so memory stays bounded however big the file is.
    for (auto it = found.waiting.cbegin(); ok && it != found.waiting.cend();) {
        QStringList records;
        for (; ok && it != found.waiting.cend() && records.size() < 1000; ++it) {
            const std::optional<QString> record = readRecord(fd, it.value());
            ok = record.has_value();
            records.append(record.value_or(QString()));
        }
        QMutexLocker lock(&m_mutex);
        QList<quint64> keys;
        if (ok && !appendLocked(records, &keys, reason)) {
            // Still in the file they came from: not held twice.
            for (const quint64 key : std::as_const(keys))
                m_held.remove(key);
            ok = false;
        }
        if (ok)
            *imported += int(records.size());
    }
    ::close(fd);
    if (!ok)
        return false;
    if (!sync()) {
        *reason = systemError();
        return false;
    }
    if (::unlink(QFile::encodeName(file).constData()) != 0)
        qWarning("%s was imported but stays (%s); its contacts are sent once more at the next start",
                 qPrintable(file), std::strerror(errno));
    return true;
}

bool Outbox::importPending(int* imported, int* damaged)
{
    QStringList files;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_replayed)
            return m_pending.isEmpty();
        files = m_pending.keys();
    }
    for (const QString& file : std::as_const(files)) {
        QString reason;
        const bool done = !exists(file) || import(file, imported, damaged, &reason);
        QMutexLocker lock(&m_mutex);
        if (done)
            m_pending.remove(file);
        else
            m_pending.insert(file, unusable(file, reason));
    }
    QMutexLocker lock(&m_mutex);
    return m_pending.isEmpty();
}

bool Outbox::writeLocked(QByteArray bytes, qint64* at, QString* error)
{
    off_t before = -1;
    if (m_writable || openLocked(m_path, true)) {
        before = ::lseek(m_fd, 0, SEEK_END);
        if (before == 0)
            bytes.prepend(Header);
        *at = before == 0 ? Header.size() : before;
        if (before >= 0 && writeAll(m_fd, bytes))
            return true;
    }
    m_lastError = systemError();
    if (error)
        *error = m_lastError;
    // Cut back, so the next entry is not glued to a torn one.
    if (before >= 0 && ::ftruncate(m_fd, before) != 0)
        qWarning("%s stays cut short: %s", qPrintable(m_path), std::strerror(errno));
    return false;
}

bool Outbox::appendLocked(const QStringList& records, QList<quint64>* keys, QString* error)
{
    QByteArray bytes;
    QList<std::pair<quint64, qint64>> sizes;
    const auto add = [&](quint64 key, const QString& record) {
        const QByteArray line = encodeAdd(key, record);
        sizes.append({key, line.size()});
        bytes += line;
    };
    // Anything held goes first, so the file keeps the order of arrival.
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        add(it.key(), it.value());
    for (const QString& record : records) {
        keys->append(m_nextKey);
        add(m_nextKey++, record);
    }
    qint64 at = 0;
    if (!writeLocked(bytes, &at, error)) {
        for (qsizetype i = 0; i < records.size(); ++i)
            m_held.insert(keys->at(i), records[i]);
        return false;
    }
    for (const auto& [key, size] : std::as_const(sizes)) {
        m_index.insert(key, {at, size});
        at += size;
    }
    m_held.clear();
    return true;
}

QList<quint64> Outbox::append(const QStringList& records, bool* written, QString* error)
{
    QMutexLocker lock(&m_mutex);
    QList<quint64> keys;
    const bool ok = appendLocked(records, &keys, error);
    if (written)
        *written = ok;
    return keys;
}

void Outbox::remove(quint64 key)
{
    QMutexLocker lock(&m_mutex);
    qint64 at = 0;
    if (m_held.remove(key) == 0 && m_index.remove(key) > 0) {
        // A removal that does not reach the file only means the contact is
        // sent once more after a restart, and a "Duplicate" then accepts it.
        writeLocked(encodeRemove(key), &at, nullptr);
    }
    if (m_index.isEmpty() && m_held.isEmpty())
        compactLocked();
}

void Outbox::compactLocked()
{
    // Before the replay the start of the file is still being read. A quiet
    // stream empties the outbox after every contact; cutting it back each
    // time would cost a metadata write per contact for a few bytes.
    if (!m_replayed || !m_writable || ::lseek(m_fd, 0, SEEK_END) < CompactionSize)
        return;
    if (::ftruncate(m_fd, 0) == 0)
        writeAll(m_fd, Header);
}

bool Outbox::retry(QString* error, int* imported)
{
    {
        QMutexLocker lock(&m_mutex);
        QList<quint64> keys;
        if (!m_held.isEmpty() && !appendLocked({}, &keys, error))
            return false;
    }
    int count = 0;
    int damaged = 0;
    const bool done = importPending(&count, &damaged);
    if (imported)
        *imported = count;
    return done;
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

QList<Outbox::Entry> Outbox::waitingAfter(quint64 key, int max) const
{
    QMutexLocker lock(&m_mutex);
    QList<Entry> entries;
    auto disk = m_index.upperBound(key);
    auto held = m_held.upperBound(key);
    while (entries.size() < max && (disk != m_index.cend() || held != m_held.cend())) {
        if (held == m_held.cend() || (disk != m_index.cend() && disk.key() < held.key())) {
            if (const std::optional<QString> record = readRecord(m_fd, disk.value()))
                entries.append({disk.key(), *record});
            else
                qWarning("Contact %llu cannot be read back from %s", disk.key(), qPrintable(m_path));
            ++disk;
        } else {
            entries.append({held.key(), held.value()});
            ++held;
        }
    }
    return entries;
}

int Outbox::waitingCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_index.size() + m_held.size());
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

QList<Outbox::Entry> Outbox::heldEntries() const
{
    QMutexLocker lock(&m_mutex);
    return listOf(m_held);
}

QString Outbox::lastError() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}
