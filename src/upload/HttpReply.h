#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

struct HttpReply
{
    enum class Failure
    {
        None,
        Connect,
        Tls,
        Timeout,
        Cut,
        Malformed
    };

    Failure failure = Failure::None;
    QString failureText; // one line for the error log; empty when failure == None
    int status = 0;      // 0 when no status line arrived
    QByteArray reasonPhrase;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body; // decoded (chunked removed), at most the reader's body limit
    bool whole = false;

    // Case-insensitive, first match, trimmed; empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// Reads one HTTP/1.1 response from the bytes of a connection. Only what is
// judged is kept: the body up to its limit, never the rest.
class HttpReplyReader
{
public:
    explicit HttpReplyReader(qsizetype bodyLimit = 1024);

    // True once no more bytes are needed (whole, or malformed).
    bool feed(QByteArrayView bytes);
    // The connection ended; Qt reports an orderly close and a reset alike.
    void endOfStream();
    bool done() const { return m_state == State::Done; }
    const HttpReply& reply() const { return m_reply; }
    // Whole, body consumed exactly to its end, and the server keeps the connection open.
    bool connectionReusable() const;
    bool anyBytes() const { return m_anyBytes; }

private:
    enum class State
    {
        StatusLine,
        Headers,
        Body,
        UntilEnd,
        ChunkSize,
        ChunkData,
        ChunkEnd,
        Trailer,
        Done
    };

    void step(QByteArrayView input, qsizetype& at);
    std::optional<QByteArray> takeLine(QByteArrayView input, qsizetype& at, qsizetype limit,
                                       const char* tooLong);
    void parseStatusLine(const QByteArray& line);
    void parseHeaderLine(const QByteArray& line);
    void startBody();
    void parseChunkSize(const QByteArray& line);
    void takeBody(QByteArrayView input, qsizetype& at);
    void finishWhole(bool consumedToEnd);
    void fail(const QString& reason);

    qsizetype m_bodyLimit;
    State m_state = State::StatusLine;
    HttpReply m_reply;
    QByteArray m_pending;      // a line not yet ended
    qsizetype m_lineBytes = 0; // of the section (head, trailer) or line being read
    qint64 m_remaining = 0;    // of the Content-Length body or of the current chunk
    bool m_anyBytes = false;
    bool m_consumedToEnd = false;
    bool m_persistent = false;
    bool m_ended = false;
};
