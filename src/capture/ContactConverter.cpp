#include "capture/ContactConverter.h"

#include "capture/AdifRecord.h"
#include "logs/DebugTrace.h"
#include "logs/LogFile.h"

#include <QDate>
#include <QStringDecoder>
#include <QXmlStreamReader>

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

constexpr std::array<QLatin1String, ElementCount> ElementNames{{
    QLatin1String("call"),
    QLatin1String("rcv"),
    QLatin1String("snt"),
    QLatin1String("txfreq"),
    QLatin1String("mode"),
    QLatin1String("timestamp"),
    QLatin1String("sntnr"),
    QLatin1String("rcvnr"),
    QLatin1String("exchange1"),
    QLatin1String("wpxprefix"),
    QLatin1String("rxfreq"),
}};

// Entity expansion is bounded so a hostile datagram cannot blow up memory;
// real contact datagrams declare no entities at all.
constexpr int EntityExpansionLimit = 4096;

// The text of the first element of each name, in document order, as the
// lookups "//call", "//rcv", ... would find it. Absent elements stay unset.
struct ContactElements
{
    std::array<std::optional<QString>, ElementCount> text;

    const std::optional<QString>& operator[](Element e) const { return text[e]; }
};

int elementIndex(QStringView name)
{
    for (int i = 0; i < ElementCount; ++i) {
        if (name == ElementNames[i])
            return i;
    }
    return -1;
}

struct ParsedDocument
{
    ContactElements elements;
    std::optional<QString> error;
    bool contactInfo = false; // the document element is contactinfo, in no namespace
    QString rootName;         // otherwise, its name for the reason given
    bool doctype = false;
};

// Parses the whole document; an element's text is the text of all its
// descendants. The values count only when the document is well-formed and
// its document element is "contactinfo".
ParsedDocument readElements(const QString& datagram)
{
    QXmlStreamReader reader(datagram);
    reader.setEntityExpansionLimit(EntityExpansionLimit);

    ParsedDocument parsed;
    ContactElements& found = parsed.elements;
    std::array<int, ElementCount> openAtDepth;
    openAtDepth.fill(0);
    int collecting = 0;
    int depth = 0;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            ++depth;
            const bool plainName = reader.namespaceUri().isEmpty();
            if (depth == 1)
                parsed.contactInfo = plainName && reader.name() == QLatin1String("contactinfo");
            if (depth == 1 && !parsed.contactInfo) {
                parsed.rootName = plainName
                                      ? reader.name().toString()
                                      : QStringLiteral("{%1}%2").arg(reader.namespaceUri(), reader.name());
            }
            if (!plainName)
                break;
            const int index = elementIndex(reader.name());
            if (index >= 0 && !found.text[index]) {
                found.text[index] = QString();
                openAtDepth[index] = depth;
                ++collecting;
            }
            break;
        }
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            if (collecting > 0) {
                for (int i = 0; i < ElementCount; ++i) {
                    if (openAtDepth[i] > 0)
                        *found.text[i] += reader.text();
                }
            }
            break;
        case QXmlStreamReader::DTD:
            parsed.doctype = true;
            break;
        case QXmlStreamReader::EndElement:
            if (collecting > 0) {
                for (int i = 0; i < ElementCount; ++i) {
                    if (openAtDepth[i] == depth) {
                        openAtDepth[i] = 0;
                        --collecting;
                    }
                }
            }
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
        parsed.elements = {};
    }
    return parsed;
}

bool startsReference(QStringView text, qsizetype ampersand)
{
    const QStringView rest = text.mid(ampersand + 1);
    for (const char* entity : {"amp;", "lt;", "gt;", "quot;", "apos;"}) {
        if (rest.startsWith(QLatin1String(entity)))
            return true;
    }
    if (!rest.startsWith(QLatin1Char('#')))
        return false;
    const bool hex = rest.size() > 1 && rest[1] == QLatin1Char('x');
    qsizetype at = hex ? 2 : 1;
    const qsizetype digitsFrom = at;
    while (at < rest.size() && rest[at].unicode() < 128 &&
           (rest[at].isDigit() || (hex && QStringLiteral("abcdefABCDEF").contains(rest[at]))))
        ++at;
    return at > digitsFrom && at < rest.size() && rest[at] == QLatin1Char(';');
}

std::optional<double> toNumber(QStringView text)
{
    // Frequencies come as plain digits; reading those directly is exact and
    // spares the general parser on every contact.
    if (!text.isEmpty() && text.size() <= 15) {
        qint64 digits = 0;
        qsizetype at = 0;
        for (; at < text.size() && text[at] >= QLatin1Char('0') && text[at] <= QLatin1Char('9'); ++at)
            digits = digits * 10 + (text[at].unicode() - '0');
        if (at == text.size())
            return static_cast<double>(digits);
    }
    // Datagram numbers are written with a point whatever the user's locale.
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Reads `count` digits from `at` into `value`; count is the exact number
// when min == max, otherwise as many as there are up to max.
bool readDigits(QStringView text, qsizetype& at, int minDigits, int maxDigits, int& value)
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

// The values' digits, each zero-padded to its width, without the cost of a
// formatted print on every contact.
QString paddedDigits(std::initializer_list<std::pair<int, int>> valuesAndWidths)
{
    QString text;
    text.reserve(8);
    for (const auto& [value, width] : valuesAndWidths) {
        int divisor = 1;
        for (int i = 1; i < width; ++i)
            divisor *= 10;
        for (; divisor > 0; divisor /= 10)
            text += QLatin1Char(static_cast<char>('0' + value / divisor % 10));
    }
    return text;
}

bool isDateSeparator(QChar c)
{
    return c == QLatin1Char('-') || c == QLatin1Char('/');
}

// A frequency in 10 Hz steps as MHz text; see formatFrequency.
QString frequencyText(std::optional<double> value)
{
    if (!value)
        return {};

    // The element counts in 10 Hz steps, which are exactly the fifth decimal
    // of a MHz value: rounding to a whole number of steps rounds to five places.
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
    result.reserve(integerDigits.size() + 8);
    if (negative && (!integerDigits.isEmpty() || fraction != 0))
        result += QLatin1Char('-');
    result += integerDigits;
    result += QLatin1Char('.');
    const qsizetype fractionAt = result.size();
    result.resize(fractionAt + decimals);
    for (int digit = decimals - 1; digit >= 0; --digit, fraction /= 10)
        result[fractionAt + digit] = QLatin1Char(static_cast<char>('0' + fraction % 10));
    return result;
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

QString ContactConverter::formatFrequency(QStringView tenHertzText)
{
    return frequencyText(toNumber(tenHertzText));
}

ContactConverter::DateTimeTexts ContactConverter::formatTimestamp(QStringView timestamp)
{
    const QStringView text = timestamp.trimmed();
    qsizetype at = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    const auto separator = [&](auto accepts) {
        if (at < text.size() && accepts(text[at])) {
            ++at;
            return true;
        }
        return false;
    };

    if (!readDigits(text, at, 4, 4, year) || !separator(isDateSeparator) ||
        !readDigits(text, at, 1, 2, month) || !separator(isDateSeparator) || !readDigits(text, at, 1, 2, day))
        return {};

    if (at < text.size()) {
        if (text[at] == QLatin1Char('T')) {
            ++at;
        } else {
            const qsizetype blanksFrom = at;
            while (at < text.size() && text[at] == QLatin1Char(' '))
                ++at;
            if (at == blanksFrom)
                return {};
        }
        if (!readDigits(text, at, 1, 2, hour) || !separator([](QChar c) { return c == QLatin1Char(':'); }) ||
            !readDigits(text, at, 2, 2, minute))
            return {};
        if (separator([](QChar c) { return c == QLatin1Char(':'); })) {
            if (!readDigits(text, at, 2, 2, second))
                return {};
            if (separator([](QChar c) { return c == QLatin1Char('.') || c == QLatin1Char(','); })) {
                int ignored = 0;
                while (at < text.size() && readDigits(text, at, 1, 1, ignored)) {
                }
            }
        }
        if (at != text.size())
            return {};
    }

    if (!QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return {};

    return {paddedDigits({{year, 4}, {month, 2}, {day, 2}}),
            paddedDigits({{hour, 2}, {minute, 2}, {second, 2}})};
}

QString ContactConverter::escapeBareAmpersands(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        escaped += text[i];
        if (text[i] == QLatin1Char('&') && !startsReference(text, i))
            escaped += QLatin1String("amp;");
    }
    return escaped;
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

    Conversion conversion;
    ParsedDocument parsed = readElements(datagram);
    if (parsed.error && tracing)
        trace->write(TraceKey::XmlError, *parsed.error);
    if (!passesGate)
        return {};

    if (parsed.error) {
        const QString escaped = escapeBareAmpersands(datagram);
        ParsedDocument second = escaped.size() != datagram.size() ? readElements(escaped) : ParsedDocument{};
        if (escaped.size() == datagram.size() || second.error || second.doctype)
            return {DatagramKind::Unreadable, *parsed.error};
        parsed = std::move(second);
        conversion.repaired = true;
    }
    const auto refuse = [&](DatagramKind kind, const QString& problem) {
        if (tracing)
            trace->write(TraceKey::XmlError, problem);
        return Conversion{kind, problem};
    };
    if (!parsed.contactInfo)
        return refuse(DatagramKind::OtherDocument,
                      QStringLiteral("The document element is <%1>, not <contactinfo>").arg(parsed.rootName));
    const ContactElements& elements = parsed.elements;
    for (int i = 0; i < ElementCount; ++i) {
        const std::optional<QString>& text = elements.text[i];
        const qsizetype length = text && text->size() > MaxFieldLength ? adifLength(*text) : 0;
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

    appendIfFound(u"CALL", Call);
    appendIfFound(u"RST_RCVD", Rcv);
    appendIfFound(u"RST_SENT", Snt);

    const std::optional<double> txTenHertz = elements[TxFreq] ? toNumber(*elements[TxFreq]) : std::nullopt;
    record.AppendField(u"FREQ", frequencyText(txTenHertz));
    record.AppendField(u"BAND", txTenHertz ? bandForKilohertz(*txTenHertz / 100.0) : QString());

    appendIfFound(u"MODE", Mode);

    const DateTimeTexts when = elements[Timestamp] ? formatTimestamp(*elements[Timestamp]) : DateTimeTexts{};
    record.AppendField(u"QSO_DATE", when.date);
    record.AppendField(u"TIME_ON", when.time);

    appendIfFound(u"STX", SntNr);
    appendIfFound(u"SRX", RcvNr);
    appendIfFound(u"SRX_STRING", Exchange1);
    appendIfFound(u"PFX", WpxPrefix);
    record.AppendField(u"TX_PWR", u"-1");

    const std::optional<QString>& rxFreq = elements[RxFreq];
    record.AppendField(u"FREQ_RX", rxFreq ? formatFrequency(*rxFreq) : QString());

    record.terminate();
    conversion.kind = DatagramKind::Contact;
    return conversion;
}
