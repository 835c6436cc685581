#pragma once

#include <QByteArray>
#include <QString>

class AdifRecord;
class DebugTrace;

// What a datagram turned out to be.
enum class DatagramKind
{
    NoContact,     // the word "contactinfo" is not in it: shown, nothing else
    OtherDocument, // well-formed, but its document element is not contactinfo
    Unreadable,    // not well-formed XML, even with its bare "&"s escaped, or a field too long
    Contact,       // a record was built
};

struct Conversion
{
    DatagramKind kind = DatagramKind::NoContact;
    QString problem; // the parser's reason, for OtherDocument and Unreadable
    bool repaired = false;
};

// Turns the text of one contact datagram into a finished ADIF record.
class ContactConverter final
{
public:
    // A longer element value makes the datagram unreadable: no logger sends
    // one, and a field is never cut without a word.
    static constexpr int MaxFieldLength = 1024;
    // The most of an unreadable datagram its error report copies (UTF-8 bytes).
    static constexpr int MaxReportedDatagram = 4096;

    // UTF-8 when the bytes are valid UTF-8, otherwise Latin-1, so nothing is lost.
    static QString datagramText(const QByteArray& bytes);

    // Appends the fourteen fields and "<EOR>" to `record` for a contact, and
    // touches nothing otherwise. Loggers paste free text into their
    // documents, so one that is not well-formed is read again with its bare
    // "&"s escaped. Never so with a DOCTYPE: a declared entity it failed on
    // (an expansion bomb) would come through as text. A parse failure is
    // traced when `trace` is given and the debug flag is set.
    static Conversion convert(const QString& datagram, AdifRecord& record, const DebugTrace* trace = nullptr);

    // The text with every "&" escaped that does not start &amp; &lt; &gt;
    // &quot; &apos; or a character reference.
    static QString escapeBareAmpersands(const QString& text);

    // The error-log text for an unreadable datagram: the reason, then the
    // datagram, cut after MaxReportedDatagram bytes with the cut said.
    static QString unreadableReport(const QString& datagram, const QString& problem);
};
