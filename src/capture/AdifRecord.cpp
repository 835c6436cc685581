#include "capture/AdifRecord.h"

#include <array>
#include <charconv>
#include <iterator>

namespace {

struct Band
{
    const char* name;
    double lowerKhz;
    double upperKhz;
};

constexpr std::array<Band, 11> BandTable{{
    {"160M", 1800, 2000},
    {"80M", 3500, 4000},
    {"40M", 7000, 7300},
    {"30M", 10100, 10150},
    {"20M", 14000, 14350},
    {"17M", 18068, 18168},
    {"15M", 21000, 21450},
    {"12M", 24890, 24990},
    {"10M", 28000, 29700},
    {"6M", 50000, 54000},
    {"2M", 144000, 148000},
}};

} // namespace

qsizetype adifLength(QStringView value)
{
    qsizetype lowSurrogates = 0;
    for (QChar c : value) {
        if (c.isLowSurrogate())
            ++lowSurrogates;
    }
    return value.size() - lowSurrogates;
}

void AdifRecord::AppendField(QStringView FieldName, QStringView theData)
{
    // No exact reserve() here: it would defeat the string's geometric growth
    // and reallocate the whole record for every field.
    m_text += QLatin1Char('<');
    m_text += FieldName;
    m_text += QLatin1Char(':');
    char digits[24];
    const std::to_chars_result length =
        std::to_chars(std::begin(digits), std::end(digits), adifLength(theData));
    m_text += QLatin1String(digits, length.ptr);
    m_text += QLatin1Char('>');
    m_text += theData;
    m_text += QLatin1Char(' ');
}

void AdifRecord::terminate()
{
    m_text += QLatin1String("<EOR>");
}

QString bandForKilohertz(double kilohertz)
{
    for (const Band& band : BandTable) {
        if (kilohertz >= band.lowerKhz && kilohertz <= band.upperKhz)
            return QString::fromLatin1(band.name);
    }
    return {};
}

QString GetBandForFrequency(const QString& Frequency)
{
    // Numbers travel between programs, so they are read the same way whatever
    // the user's locale says about decimal separators.
    bool ok = false;
    const double kilohertz = Frequency.toDouble(&ok);
    if (!ok)
        return {};
    return bandForKilohertz(kilohertz);
}

QString adifField(QStringView record, QStringView name)
{
    qsizetype at = 0;
    while ((at = record.indexOf(QLatin1Char('<'), at)) >= 0) {
        const qsizetype colon = record.indexOf(QLatin1Char(':'), at);
        const qsizetype close = record.indexOf(QLatin1Char('>'), at);
        if (colon < 0 || close < 0 || colon > close)
            return {};
        bool ok = false;
        const qsizetype length = record.mid(colon + 1, close - colon - 1).toLongLong(&ok);
        if (!ok || length < 0)
            return {};
        // The length counts code points; step over the value code point by code point.
        qsizetype end = close + 1;
        for (qsizetype taken = 0; taken < length && end < record.size(); ++taken)
            end += record[end].isHighSurrogate() && end + 1 < record.size() ? 2 : 1;
        if (record.mid(at + 1, colon - at - 1).compare(name, Qt::CaseInsensitive) == 0)
            return record.mid(close + 1, end - close - 1).toString();
        at = end;
    }
    return {};
}
