#include "settings/SettingConversions.h"

#include <cmath>
#include <limits>

namespace {

std::optional<double> strictNumber(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double digitsInBase(QStringView digits, int base)
{
    double value = 0;
    for (QChar c : digits) {
        const int digit = c.isDigit() ? c.digitValue() : (c.toUpper().unicode() - 'A' + 10);
        if (c.unicode() > 127 || digit < 0 || digit >= base || (!c.isDigit() && !c.isLetter()))
            break;
        value = value * base + digit;
    }
    return value;
}

} // namespace

namespace SettingConversions {

std::optional<quint16> toPort(const QString& text)
{
    const std::optional<double> value = strictNumber(text);
    if (!value)
        return std::nullopt;
    const double rounded = std::nearbyint(*value);
    if (rounded < 1 || rounded > 65534)
        return std::nullopt;
    return static_cast<quint16>(rounded);
}

std::optional<bool> toBoolean(const QString& text)
{
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const std::optional<double> number = strictNumber(word))
        return *number != 0;
    return std::nullopt;
}

double leadingNumber(const QString& text)
{
    QString packed;
    packed.reserve(text.size());
    for (QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            packed += c;
    }

    if (packed.startsWith(QLatin1String("&H"), Qt::CaseInsensitive))
        return digitsInBase(QStringView(packed).mid(2), 16);
    if (packed.startsWith(QLatin1String("&O"), Qt::CaseInsensitive))
        return digitsInBase(QStringView(packed).mid(2), 8);

    // The longest start of the text shaped like [+-]digits[.digits][E[+-]digits].
    qsizetype end = 0;
    const auto digitsFrom = [&](qsizetype at) {
        while (at < packed.size() && packed[at].unicode() < 128 && packed[at].isDigit())
            ++at;
        return at;
    };
    if (end < packed.size() && (packed[end] == QLatin1Char('+') || packed[end] == QLatin1Char('-')))
        ++end;
    const qsizetype integerStart = end;
    end = digitsFrom(end);
    bool anyDigit = end > integerStart;
    if (end < packed.size() && packed[end] == QLatin1Char('.')) {
        const qsizetype fractionEnd = digitsFrom(end + 1);
        anyDigit = anyDigit || fractionEnd > end + 1;
        end = fractionEnd;
    }
    if (!anyDigit)
        return 0;
    if (end < packed.size() && (packed[end] == QLatin1Char('E') || packed[end] == QLatin1Char('e') ||
                                packed[end] == QLatin1Char('D') || packed[end] == QLatin1Char('d'))) {
        qsizetype exponent = end + 1;
        if (exponent < packed.size() &&
            (packed[exponent] == QLatin1Char('+') || packed[exponent] == QLatin1Char('-')))
            ++exponent;
        const qsizetype exponentEnd = digitsFrom(exponent);
        if (exponentEnd > exponent) {
            QString number = packed.left(exponentEnd);
            number[end] = QLatin1Char('e');
            return number.toDouble();
        }
    }
    return packed.left(end).toDouble();
}

std::optional<qint32> toCount(const QString& text)
{
    const double rounded = std::nearbyint(leadingNumber(text));
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<qint32>::min() ||
        rounded > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return static_cast<qint32>(rounded);
}

} // namespace SettingConversions
