#include "capture/AdifRecord.h"
#include "capture/ContactConverter.h"

#include <QStringList>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QString& record)
{
    std::fprintf(stderr, "%s\nrecord: %s\n", what, qUtf8Printable(record));
    std::abort();
}

// Code points as an ADIF reader counts them: a surrogate pair is one, any
// other UTF-16 unit is one.
qsizetype codePointsAt(const QString& text, qsizetype from, qsizetype count, qsizetype& end)
{
    qsizetype taken = 0;
    end = from;
    while (taken < count && end < text.size()) {
        if (text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate())
            ++end;
        ++end;
        ++taken;
    }
    return taken;
}

bool hasDoctype(const QString& text)
{
    QXmlStreamReader reader(text);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::DTD)
            return true;
    }
    return false;
}

// Reads the record back the way an ADIF reader would, trusting only the
// lengths, and checks the fields come in the fixed order with the ones that
// are always written present.
void checkRecord(const QString& record)
{
    static const QStringList Order{"CALL",       "RST_RCVD", "RST_SENT", "FREQ",   "BAND",
                                   "MODE",       "QSO_DATE", "TIME_ON",  "STX",    "SRX",
                                   "SRX_STRING", "PFX",      "TX_PWR",   "FREQ_RX"};
    static const QStringList Always{"FREQ", "BAND", "QSO_DATE", "TIME_ON", "TX_PWR", "FREQ_RX"};

    QStringList names;
    qsizetype at = 0;
    while (!record.mid(at).startsWith(QLatin1String("<EOR>"))) {
        if (at >= record.size() || record[at] != QLatin1Char('<'))
            fail("field does not start with '<'", record);
        const qsizetype colon = record.indexOf(QLatin1Char(':'), at);
        const qsizetype close = record.indexOf(QLatin1Char('>'), at);
        if (colon < 0 || close < colon)
            fail("field header is not <NAME:length>", record);
        bool ok = false;
        const qsizetype length = record.mid(colon + 1, close - colon - 1).toLongLong(&ok);
        if (!ok || length < 0)
            fail("field length is not a number", record);
        if (length > ContactConverter::MaxFieldLength)
            fail("a field longer than a datagram may bring", record);
        qsizetype end = 0;
        if (codePointsAt(record, close + 1, length, end) != length || end >= record.size() ||
            record[end] != QLatin1Char(' '))
            fail("field value is not followed by a blank where its length says", record);
        names << record.mid(at + 1, colon - at - 1);
        at = end + 1;
    }
    if (at + 5 != record.size())
        fail("text after <EOR>", record);

    qsizetype previous = -1;
    for (const QString& name : names) {
        const qsizetype position = Order.indexOf(name);
        if (position <= previous)
            fail("field out of order, unknown or repeated", record);
        previous = position;
    }
    for (const QString& name : Always) {
        if (!names.contains(name))
            fail("a field that is always written is missing", record);
    }
}

} // namespace

// Bytes off the network, as the capture thread hands them on: text, then a
// record only when the gate word is there and the document reads as a
// contactinfo document (repaired only when it has no DOCTYPE), and a record
// that an ADIF reader can take apart by its lengths alone, no field longer
// than a field may be; an unreadable one gets a bounded error report.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = ContactConverter::datagramText(bytes);
    // A leading byte-order mark is a signature, not text, and may go.
    const QByteArray utf8 = text.toUtf8();
    if (utf8 != bytes && "\xEF\xBB\xBF" + utf8 != bytes && text != QString::fromLatin1(bytes))
        fail("datagram text is neither the UTF-8 nor the Latin-1 reading of the bytes", text);

    AdifRecord record;
    const Conversion conversion = ContactConverter::convert(text, record);
    const bool converted = conversion.kind == DatagramKind::Contact;
    if (converted && !text.contains(QLatin1String("contactinfo")))
        fail("conversion does not follow the gate word", record.text());
    if (conversion.repaired && hasDoctype(ContactConverter::escapeBareAmpersands(text)))
        fail("a document with a DOCTYPE was repaired", record.text());
    if (conversion.kind == DatagramKind::Unreadable) {
        // The copy for the error log is bounded whatever came in.
        const qsizetype reported =
            ContactConverter::unreadableReport(text, conversion.problem).toUtf8().size();
        if (reported > conversion.problem.toUtf8().size() + ContactConverter::MaxReportedDatagram + 100)
            fail("the error report copies more than it may", conversion.problem);
    }
    if (!converted) {
        if (!record.isEmpty())
            fail("a refused datagram left a record behind", record.text());
        return 0;
    }
    checkRecord(record.text());
    return 0;
}
