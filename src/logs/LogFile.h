#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Shared by the text logs: each entry opens its file for appending, writes,
// flushes and closes, so the user may open, edit or delete a log while Tarvex
// runs. An entry is added whole or not at all: a write that fails half-way
// (a full disk, a file-size limit) is cut back to where it started, so the
// next entry never lands glued to a torn one. Returns whether every byte
// reached the file; `error` then says why not.
bool appendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The same, and the bytes are on the disk, not only with the system, when it
// returns true: for files a contact leaves the outbox for.
bool appendToFileSynced(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The user's short date, a blank and the long time (without a time zone);
// the date alone at exactly midnight.
QString logTimestamp(const QDateTime& when = QDateTime::currentDateTime());

inline constexpr char LineEnd[] = "\r\n";
