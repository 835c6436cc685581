#pragma once

#include <QString>

#include <optional>

// How stored setting texts become numbers and switches at start-up. Each
// returns nothing when the text does not convert, and the caller then uses
// its own default rather than stopping half-way.
namespace SettingConversions {

// A port: a number (blanks around it allowed), rounded to the nearest whole
// number with a half going to the even neighbour, from 1 to 65534.
std::optional<quint16> toPort(const QString& text);

// "True"/"False" in any letter case, or a number: 0 is false, anything else true.
std::optional<bool> toBoolean(const QString& text);

// The number at the start of the text, read leniently as the uploaded count
// always was: blanks, tabs and line feeds anywhere are skipped, the number
// ends where a character cannot continue it, "&H" and "&O" introduce hex and
// octal digits, no number at all gives 0. Rounded half to even; nothing when
// it does not fit a signed 32-bit count.
std::optional<qint32> toCount(const QString& text);

// The number such a lenient reading finds at the start of the text.
double leadingNumber(const QString& text);

} // namespace SettingConversions
