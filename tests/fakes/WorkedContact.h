#pragma once

#include <QByteArray>
#include <QString>

// The contact every layer is checked against: a logger's datagram and the
// record it must become, byte for byte (211 characters).
namespace WorkedContact {

inline const QByteArray Datagram =
    "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq><rxfreq>1420012</rxfreq>"
    "<mode>CW</mode><call>Q9XYZ</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr>"
    "<exchange1>14</exchange1><wpxprefix>Q9</wpxprefix><extra>1</extra></contactinfo>";

inline const QString Record =
    QStringLiteral("<CALL:5>Q9XYZ <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW "
                   "<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 "
                   "<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>");

// The same contact under another call sign of five characters, so contacts can be told apart.
inline QByteArray datagramWithCall(const QByteArray& call)
{
    return QByteArray(Datagram).replace("Q9XYZ", call);
}

inline QString recordWithCall(const QString& call)
{
    return QString(Record).replace(QStringLiteral("Q9XYZ"), call);
}

} // namespace WorkedContact
