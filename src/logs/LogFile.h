#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cerrno>

// Shared by the text logs and the files beside the outbox: each entry opens
// its file for appending, writes and closes, so the user may open, edit or
// delete a file while Tarvex runs. An entry is added whole or not at all: a
// write that fails half-way (a full disk, a file-size limit) is cut back to
// where it started, so the next entry never lands glued to a torn one. A new
// file is created 0600 and never through a symbolic link; a link the user
// placed to an existing file is followed. Returns whether every byte reached
// the file; `error` then says why not, in the system's words.
bool appendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The same, and the bytes are on the disk, not only with the system, when it
// returns true: for files a contact leaves the outbox for. `header` starts a
// file this append creates.
bool appendToFileSynced(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                        const QByteArray& header = {});

// The user's short date, a blank and the long time (without a time zone);
// the date alone at exactly midnight.
QString logTimestamp(const QDateTime& when = QDateTime::currentDateTime());

inline constexpr char LineEnd[] = "\r\n";

// errno's text, as the system says it (Qt's errorString() says "Unknown error" for a full disk).
QString systemError(int number = errno);
// Writes every byte or fails with errno set.
bool writeAll(int fd, QByteArrayView bytes);
