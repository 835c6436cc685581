#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// Small texts every request of ours shares.
namespace HttpTexts {

// "Tarvex/1.0.0", so the services can tell which program speaks to them.
QByteArray userAgent();

// A time-out as a user reads it: "30 seconds", "1 second", "200 ms".
QString duration(std::chrono::milliseconds duration);

} // namespace HttpTexts
