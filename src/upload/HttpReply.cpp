#include "upload/HttpReply.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace {

constexpr qsizetype HeaderLimit = 64 * 1024;
// Longer chunk-size lines are only extensions nobody needs; more is an attack or noise.
constexpr qsizetype ChunkSizeLineLimit = 4096;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

// Every comma-separated element of every field of that name, trimmed.
QList<QByteArray> listValues(const QList<std::pair<QByteArray, QByteArray>>& headers, QByteArrayView name)
{
    QList<QByteArray> values;
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            for (const QByteArray& element : value.split(','))
                values.append(element.trimmed());
        }
    }
    return values;
}

bool containsToken(const QList<QByteArray>& values, QByteArrayView token)
{
    return std::any_of(values.begin(), values.end(), [token](const QByteArray& value) {
        return value.compare(token, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

QByteArray HttpReply::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}

HttpReplyReader::HttpReplyReader(qsizetype bodyLimit) : m_bodyLimit(std::max<qsizetype>(bodyLimit, 0)) {}

bool HttpReplyReader::feed(QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        m_anyBytes = true;
    qsizetype at = 0;
    while (!done() && at < bytes.size())
        step(bytes, at);
    // Bytes past the end belong to nothing we asked for, so the connection is no longer in step.
    if (at < bytes.size())
        m_consumedToEnd = false;
    return done();
}

void HttpReplyReader::endOfStream()
{
    m_ended = true;
    if (done())
        return;
    if (m_state == State::UntilEnd) {
        finishWhole(true);
        return;
    }
    m_reply.failure = HttpReply::Failure::Cut;
    m_reply.failureText =
        QStringLiteral("The log service closed the connection before the reply was complete");
    m_state = State::Done;
}

bool HttpReplyReader::connectionReusable() const
{
    return done() && m_reply.whole && m_consumedToEnd && m_persistent && !m_ended;
}

void HttpReplyReader::step(QByteArrayView input, qsizetype& at)
{
    switch (m_state) {
    case State::StatusLine: {
        const std::optional<QByteArray> line = takeLine(input, at, HeaderLimit, "header section over 64 KiB");
        if (line) {
            parseStatusLine(*line);
        } else if (!done() && !QByteArrayView("HTTP/").startsWith(QByteArrayView(m_pending).first(
                                  std::min<qsizetype>(m_pending.size(), 5)))) {
            // Noise is told early, so a stream without line breaks costs nothing.
            fail("no status line");
        }
        return;
    }
    case State::Headers: {
        const std::optional<QByteArray> line = takeLine(input, at, HeaderLimit, "header section over 64 KiB");
        if (line)
            parseHeaderLine(*line);
        return;
    }
    case State::Body:
    case State::UntilEnd:
    case State::ChunkData:
        takeBody(input, at);
        return;
    case State::ChunkSize: {
        const std::optional<QByteArray> line = takeLine(input, at, ChunkSizeLineLimit, "bad chunk size");
        if (line)
            parseChunkSize(*line);
        return;
    }
    case State::ChunkEnd: {
        const std::optional<QByteArray> line = takeLine(input, at, 2, "chunk longer than its size");
        if (!line)
            return;
        if (!line->isEmpty()) {
            fail("chunk longer than its size");
            return;
        }
        m_state = State::ChunkSize;
        m_lineBytes = 0;
        return;
    }
    case State::Trailer: {
        const std::optional<QByteArray> line =
            takeLine(input, at, HeaderLimit, "trailer section over 64 KiB");
        if (line && line->isEmpty())
            finishWhole(true);
        return;
    }
    case State::Done:
        return;
    }
}

std::optional<QByteArray> HttpReplyReader::takeLine(QByteArrayView input, qsizetype& at, qsizetype limit,
                                                    const char* tooLong)
{
    const qsizetype end = input.indexOf('\n', at);
    const qsizetype taken = (end < 0 ? input.size() : end + 1) - at;
    // Counted before buffering, so a section without end is refused at its limit.
    m_lineBytes += taken;
    if (m_lineBytes > limit) {
        fail(QString::fromLatin1(tooLong));
        return std::nullopt;
    }
    m_pending += input.sliced(at, taken);
    at += taken;
    if (end < 0)
        return std::nullopt;
    QByteArray line = std::exchange(m_pending, {});
    line.chop(line.endsWith("\r\n") ? 2 : 1);
    return line;
}

void HttpReplyReader::parseStatusLine(const QByteArray& line)
{
    if (!line.startsWith("HTTP/")) {
        fail("no status line");
        return;
    }
    // "HTTP/1.1 200 OK"; the reason phrase may be missing, with or without its blank.
    const bool valid = line.size() >= 12 && isDigit(line[5]) && line[6] == '.' && isDigit(line[7]) &&
                       line[8] == ' ' && allDigits(line.sliced(9, 3)) && line[9] != '0' &&
                       (line.size() == 12 || line[12] == ' ');
    if (!valid) {
        fail("bad status line");
        return;
    }
    m_reply.status = line.sliced(9, 3).toInt();
    m_reply.reasonPhrase = line.mid(13);
    m_persistent = line[5] > '1' || (line[5] == '1' && line[7] >= '1');
    m_state = State::Headers;
}

void HttpReplyReader::parseHeaderLine(const QByteArray& line)
{
    if (line.isEmpty()) {
        startBody();
        return;
    }
    if (line[0] == ' ' || line[0] == '\t') {
        // A folded line continues the field before it.
        if (m_reply.headers.isEmpty()) {
            fail("bad header line");
            return;
        }
        m_reply.headers.last().second += ' ' + line.trimmed();
        return;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) {
        fail("bad header line");
        return;
    }
    m_reply.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
}

void HttpReplyReader::startBody()
{
    if (m_reply.status < 200) {
        // An interim answer: the final one follows on the same stream.
        m_reply = HttpReply{};
        m_state = State::StatusLine;
        m_lineBytes = 0;
        return;
    }
    const QList<QByteArray> connection = listValues(m_reply.headers, "Connection");
    if (containsToken(connection, "close"))
        m_persistent = false;
    else if (containsToken(connection, "keep-alive"))
        m_persistent = true;

    if (m_reply.status == 204 || m_reply.status == 304) {
        finishWhole(true);
        return;
    }

    const QList<QByteArray> codings = listValues(m_reply.headers, "Transfer-Encoding");
    const QList<QByteArray> lengths = listValues(m_reply.headers, "Content-Length");
    if (!codings.isEmpty()) {
        // We never offer other codings, so only plain chunked is understood.
        if (codings.size() != 1 || codings.first().compare("chunked", Qt::CaseInsensitive) != 0) {
            fail("unsupported transfer coding");
            return;
        }
        // The coding wins over a length, but a reply framed two ways is not trusted with the next request.
        if (!lengths.isEmpty())
            m_persistent = false;
        m_state = State::ChunkSize;
        m_lineBytes = 0;
    } else if (!lengths.isEmpty()) {
        // Repeats are allowed when they agree ("5, 5").
        for (const QByteArray& length : lengths) {
            if (!allDigits(length) || length.size() > 18) {
                fail("bad Content-Length");
                return;
            }
            if (length.toLongLong() != lengths.first().toLongLong()) {
                fail("contradictory Content-Length");
                return;
            }
        }
        m_remaining = lengths.first().toLongLong();
        m_state = State::Body;
        if (m_remaining == 0) {
            finishWhole(true);
            return;
        }
    } else {
        m_state = State::UntilEnd;
        m_persistent = false;
    }
    if (m_bodyLimit == 0)
        finishWhole(false);
}

void HttpReplyReader::parseChunkSize(const QByteArray& line)
{
    qsizetype digits = 0;
    while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits])))
        ++digits;
    const QByteArray rest = line.mid(digits).trimmed();
    // 15 hex digits stay within qint64.
    if (digits == 0 || digits > 15 || (!rest.isEmpty() && !rest.startsWith(';'))) {
        fail("bad chunk size");
        return;
    }
    m_remaining = line.left(digits).toLongLong(nullptr, 16);
    m_state = m_remaining == 0 ? State::Trailer : State::ChunkData;
    m_lineBytes = 0;
}

void HttpReplyReader::takeBody(QByteArrayView input, qsizetype& at)
{
    const qint64 wanted = m_state == State::UntilEnd ? std::numeric_limits<qint64>::max() : m_remaining;
    const qsizetype taken = static_cast<qsizetype>(
        std::min<qint64>({input.size() - at, m_bodyLimit - m_reply.body.size(), wanted}));
    m_reply.body += input.sliced(at, taken);
    at += taken;
    m_remaining -= taken;

    if (m_state == State::Body && m_remaining == 0) {
        finishWhole(true);
    } else if (m_reply.body.size() >= m_bodyLimit) {
        // Nothing past the limit is judged, so nothing more is waited for.
        finishWhole(false);
    } else if (m_state == State::ChunkData && m_remaining == 0) {
        m_state = State::ChunkEnd;
        m_lineBytes = 0;
    }
}

void HttpReplyReader::finishWhole(bool consumedToEnd)
{
    m_reply.whole = true;
    m_consumedToEnd = consumedToEnd;
    m_state = State::Done;
}

void HttpReplyReader::fail(const QString& reason)
{
    m_reply.failure = HttpReply::Failure::Malformed;
    m_reply.failureText = QStringLiteral("The log service sent a reply that is not HTTP: ") + reason;
    m_reply.whole = false;
    m_state = State::Done;
}
