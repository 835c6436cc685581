#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Shared by the three text logs: each entry opens its file for appending,
// writes, flushes and closes, so the user may open, edit or delete a log
// while Tarvex runs. Returns whether every byte reached the file, and when
// not, says why in `error` if given.
bool appendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// The user's short date, a blank and the long time (without a time zone);
// the date alone at exactly midnight.
QString logTimestamp(const QDateTime& when = QDateTime::currentDateTime());

inline constexpr char LineEnd[] = "\r\n";
