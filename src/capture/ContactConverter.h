#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

class AdifRecord;
class DebugTrace;

// Turns the text of one contact datagram into a finished ADIF record.
class ContactConverter final
{
public:
    // The datagram's bytes as text: UTF-8 when they are valid UTF-8, otherwise
    // Latin-1, which maps every byte to a character so nothing is lost.
    static QString datagramText(const QByteArray& bytes);

    // Appends the fourteen fields and "<EOR>" to `record` and returns true, or
    // returns false without touching `record` when the text lacks the word
    // "contactinfo". A parse failure is traced when `trace` is given and the
    // debug flag is set; it never stops the record from being built.
    static bool convert(QStringView datagram, AdifRecord& record, const DebugTrace* trace = nullptr);

    // Frequency element text (units of 10 Hz) as MHz for FREQ/FREQ_RX: three
    // to five decimals, no leading zero below 1 MHz, empty when not a number.
    static QString formatFrequency(QStringView tenHertzText);

    // QSO_DATE ("yyyyMMdd") and TIME_ON ("HHmmss") from the timestamp text;
    // both empty when the text is not a date and time.
    struct DateTimeTexts
    {
        QString date;
        QString time;
    };
    static DateTimeTexts formatTimestamp(QStringView timestamp);
};
