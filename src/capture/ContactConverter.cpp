#include "capture/ContactConverter.h"

#include "capture/AdifRecord.h"
#include "logs/DebugTrace.h"
#include "logs/LogFile.h"

#include <QDate>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>

namespace {

enum Element
{
    Call,
    Rcv,
    Snt,
    TxFreq,
    Mode,
    Timestamp,
    SntNr,
    RcvNr,
    Exchange1,
    WpxPrefix,
    RxFreq,
    ElementCount
};

constexpr std::array<QLatin1String, ElementCount> ElementNames{
    {QLatin1String("call"), QLatin1String("rcv"), QLatin1String("snt"), QLatin1String("txfreq"),
     QLatin1String("mode"), QLatin1String("timestamp"), QLatin1String("sntnr"), QLatin1String("rcvnr"),
     QLatin1String("exchange1"), QLatin1String("wpxprefix"), QLatin1String("rxfreq")}};

// Entity expansion is bounded so a hostile datagram cannot blow up memory;
// real contact datagrams declare no entities at all.
constexpr int EntityExpansionLimit = 4096;

struct ParsedDocument
{
    // The text of the first element of each name, wherever it is; absent ones stay unset.
    std::array<std::optional<QString>, ElementCount> elements;
    std::optional<QString> error;
    QString rootName; // {namespace}name when it has a namespace
    bool doctype = false;
};

// An element's text is the text of all its descendants.
ParsedDocument readElements(const QString& datagram)
{
    QXmlStreamReader reader(datagram);
    reader.setEntityExpansionLimit(EntityExpansionLimit);

    ParsedDocument parsed;
    std::array<int, ElementCount> openAtDepth{};
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            ++depth;
            const bool plainName = reader.namespaceUri().isEmpty();
            if (depth == 1) {
                parsed.rootName = plainName
                                      ? reader.name().toString()
                                      : QStringLiteral("{%1}%2").arg(reader.namespaceUri(), reader.name());
            }
            const auto named = std::find(ElementNames.begin(), ElementNames.end(), reader.name());
            const auto index = named - ElementNames.begin();
            if (plainName && named != ElementNames.end() && !parsed.elements[index]) {
                parsed.elements[index] = QString();
                openAtDepth[index] = depth;
            }
            break;
        }
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            for (int i = 0; i < ElementCount; ++i) {
                if (openAtDepth[i] > 0)
                    *parsed.elements[i] += reader.text();
            }
            break;
        case QXmlStreamReader::DTD:
            parsed.doctype = true;
            break;
        case QXmlStreamReader::EndElement:
            std::replace(openAtDepth.begin(), openAtDepth.end(), depth, 0);
            --depth;
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        parsed.error = QStringLiteral("%1 (line %2, column %3)")
                           .arg(reader.errorString())
                           .arg(reader.lineNumber())
                           .arg(reader.columnNumber());
    }
    return parsed;
}

// Reads from minDigits to maxDigits ASCII digits at `at` into `value`.
bool readDigits(QStringView text, qsizetype& at, int minDigits, int maxDigits, qint64& value)
{
    value = 0;
    int taken = 0;
    while (taken < maxDigits && at < text.size() && text[at].isDigit() && text[at].unicode() < 128) {
        value = value * 10 + (text[at].unicode() - '0');
        ++at;
        ++taken;
    }
    return taken >= minDigits;
}

std::optional<double> toNumber(QStringView text)
{
    // Frequencies come as plain digits; reading those directly is exact and
    // spares the general parser on every contact.
    qsizetype at = 0;
    qint64 digits = 0;
    if (readDigits(text, at, 1, 15, digits) && at == text.size())
        return static_cast<double>(digits);
    // Datagram numbers are written with a point whatever the user's locale.
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Appends the values' digits, each zero-padded to its width, without the
// cost of a formatted print on every contact.
void appendPadded(QString& text, std::initializer_list<std::pair<qint64, int>> valuesAndWidths)
{
    text.reserve(text.size() + 8);
    for (const auto& [value, width] : valuesAndWidths) {
        qint64 divisor = 1;
        for (int i = 1; i < width; ++i)
            divisor *= 10;
        for (; divisor > 0; divisor /= 10)
            text += QLatin1Char(static_cast<char>('0' + value / divisor % 10));
    }
}

// Element text in 10 Hz steps as MHz for FREQ and FREQ_RX: three to five
// decimals, no leading zero below 1 MHz, empty when not a number.
QString frequencyText(std::optional<double> value)
{
    if (!value)
        return {};
    // A 10 Hz step is exactly the fifth decimal of a MHz value: rounding to
    // whole steps rounds to five places.
    QString integerDigits;
    qint64 fraction = 0;
    bool negative = false;
    if (std::fabs(*value) < 1e15) {
        const qint64 steps = std::llround(*value);
        negative = steps < 0;
        const qint64 magnitude = negative ? -steps : steps;
        if (magnitude / 100000 != 0)
            integerDigits = QString::number(magnitude / 100000);
        fraction = magnitude % 100000;
    } else {
        // Far beyond any radio frequency; still written, never mangled.
        negative = *value < 0;
        const QString fixed = QString::number(std::fabs(*value) / 100000.0, 'f', 5);
        const qsizetype point = fixed.indexOf(QLatin1Char('.'));
        integerDigits = fixed.left(point);
        fraction = fixed.mid(point + 1).toLongLong();
    }
    int decimals = 5;
    while (decimals > 3 && fraction % 10 == 0) {
        fraction /= 10;
        --decimals;
    }
    QString result;
    result.reserve(integerDigits.size() + 7);
    if (negative && (!integerDigits.isEmpty() || fraction != 0))
        result += QLatin1Char('-');
    result += integerDigits;
    result += QLatin1Char('.');
    appendPadded(result, {{fraction, decimals}});
    return result;
}

struct DateAndTime
{
    QString date; // QSO_DATE, yyyyMMdd
    QString time; // TIME_ON, HHmmss
};

// Both empty when the text is not a date and time.
DateAndTime dateAndTime(QStringView timestamp)
{
    const QStringView text = timestamp.trimmed();
    qsizetype at = 0;
    qint64 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const auto skipOneOf = [&](QLatin1String characters) {
        if (at == text.size() || !characters.contains(text[at]))
            return false;
        ++at;
        return true;
    };
    const QLatin1String dateSeparators("-/");
    if (!readDigits(text, at, 4, 4, year) || !skipOneOf(dateSeparators) ||
        !readDigits(text, at, 1, 2, month) || !skipOneOf(dateSeparators) || !readDigits(text, at, 1, 2, day))
        return {};

    if (at < text.size()) {
        if (!skipOneOf(QLatin1String("T"))) {
            if (!skipOneOf(QLatin1String(" ")))
                return {};
            while (skipOneOf(QLatin1String(" "))) {
            }
        }
        if (!readDigits(text, at, 1, 2, hour) || !skipOneOf(QLatin1String(":")) ||
            !readDigits(text, at, 2, 2, minute))
            return {};
        if (skipOneOf(QLatin1String(":"))) {
            if (!readDigits(text, at, 2, 2, second))
                return {};
            if (skipOneOf(QLatin1String(".,"))) {
                qint64 ignored = 0;
                while (readDigits(text, at, 1, 1, ignored)) {
                }
            }
        }
        if (at != text.size())
            return {};
    }

    if (!QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return {};
    DateAndTime texts;
    appendPadded(texts.date, {{year, 4}, {month, 2}, {day, 2}});
    appendPadded(texts.time, {{hour, 2}, {minute, 2}, {second, 2}});
    return texts;
}

} // namespace

QString ContactConverter::datagramText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QString ContactConverter::escapeBareAmpersands(const QString& text)
{
    static const QRegularExpression bare(
        QStringLiteral("&(?!(?:amp|lt|gt|quot|apos|#[0-9]+|#x[0-9a-fA-F]+);)"));
    return QString(text).replace(bare, QStringLiteral("&amp;"));
}

QString ContactConverter::unreadableReport(const QString& datagram, const QString& problem)
{
    const QLatin1String crlf(LineEnd);
    const QByteArray bytes = datagram.toUtf8();
    if (bytes.size() <= MaxReportedDatagram)
        return problem + crlf + datagram;
    // Back to the first byte of the character the cut would split.
    qsizetype cut = MaxReportedDatagram;
    while ((bytes[cut] & 0xC0) == 0x80)
        --cut;
    return problem + crlf + QString::fromUtf8(bytes.left(cut)) + crlf +
           QStringLiteral("[The datagram is %1 bytes long; the first %2 are copied here]")
               .arg(bytes.size())
               .arg(cut);
}

Conversion ContactConverter::convert(const QString& datagram, AdifRecord& record, const DebugTrace* trace)
{
    const bool passesGate = datagram.contains(QLatin1String("contactinfo"));
    const bool tracing = trace != nullptr && DebugTrace::enabled();
    if (!passesGate && !tracing)
        return {};

    ParsedDocument parsed = readElements(datagram);
    if (parsed.error && tracing)
        trace->write(TraceKey::XmlError, *parsed.error);
    if (!passesGate)
        return {};

    bool repaired = false;
    if (parsed.error) {
        const QString escaped = escapeBareAmpersands(datagram);
        ParsedDocument second = escaped.size() != datagram.size() ? readElements(escaped) : ParsedDocument{};
        if (escaped.size() == datagram.size() || second.error || second.doctype)
            return {DatagramKind::Unreadable, *parsed.error};
        parsed = std::move(second);
        repaired = true;
    }
    const auto refuse = [&](DatagramKind kind, const QString& problem) {
        if (tracing)
            trace->write(TraceKey::XmlError, problem);
        return Conversion{kind, problem};
    };
    if (parsed.rootName != QLatin1String("contactinfo"))
        return refuse(DatagramKind::OtherDocument,
                      QStringLiteral("The document element is <%1>, not <contactinfo>").arg(parsed.rootName));
    const auto& elements = parsed.elements;
    for (int i = 0; i < ElementCount; ++i) {
        const qsizetype length =
            elements[i] && elements[i]->size() > MaxFieldLength ? adifLength(*elements[i]) : 0;
        if (length > MaxFieldLength)
            return refuse(
                DatagramKind::Unreadable,
                QStringLiteral("The <%1> element holds %2 characters, more than the %3 a field may hold")
                    .arg(ElementNames[i])
                    .arg(length)
                    .arg(MaxFieldLength));
    }

    const auto appendIfFound = [&](QStringView field, Element element) {
        if (elements[element])
            record.AppendField(field, *elements[element]);
    };
    // Absent and empty elements alike give empty texts.
    const auto text = [&](Element element) { return elements[element].value_or(QString()); };

    appendIfFound(u"CALL", Call);
    appendIfFound(u"RST_RCVD", Rcv);
    appendIfFound(u"RST_SENT", Snt);
    const std::optional<double> txTenHertz = toNumber(text(TxFreq));
    record.AppendField(u"FREQ", frequencyText(txTenHertz));
    record.AppendField(u"BAND", txTenHertz ? bandForKilohertz(*txTenHertz / 100.0) : QString());
    appendIfFound(u"MODE", Mode);
    const DateAndTime when = dateAndTime(text(Timestamp));
    record.AppendField(u"QSO_DATE", when.date);
    record.AppendField(u"TIME_ON", when.time);
    appendIfFound(u"STX", SntNr);
    appendIfFound(u"SRX", RcvNr);
    appendIfFound(u"SRX_STRING", Exchange1);
    appendIfFound(u"PFX", WpxPrefix);
    record.AppendField(u"TX_PWR", u"-1");
    record.AppendField(u"FREQ_RX", frequencyText(toNumber(text(RxFreq))));
    record.terminate();
    return {DatagramKind::Contact, {}, repaired};
}
