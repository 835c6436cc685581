#include "settings/SettingConversions.h"

#include <QRegularExpression>

#include <algorithm>
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
        const qsizetype digit = QStringView(u"0123456789ABCDEF").indexOf(c.toUpper());
        if (digit < 0 || digit >= base)
            break;
        value = value * base + double(digit);
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
    QString packed = text;
    packed.removeIf([](QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; });
    // A number is ASCII, and the expression below refuses text that is not valid UTF-16.
    packed.truncate(std::find_if(packed.cbegin(), packed.cend(), [](QChar c) { return c.unicode() > 127; }) -
                    packed.cbegin());
    if (packed.startsWith(QLatin1String("&H"), Qt::CaseInsensitive))
        return digitsInBase(QStringView(packed).mid(2), 16);
    if (packed.startsWith(QLatin1String("&O"), Qt::CaseInsensitive))
        return digitsInBase(QStringView(packed).mid(2), 8);
    // D is an exponent letter too, which toDouble() does not know.
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([EeDd][+-]?[0-9]+)?"));
    QString found = number.match(packed).captured();
    return found.replace(QLatin1Char('d'), QLatin1Char('e'), Qt::CaseInsensitive).toDouble();
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
