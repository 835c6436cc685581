#pragma once

#include <QByteArray>
#include <QString>

// Sent with every upload so the service knows which program speaks to it.
inline constexpr char ApplicationKey[] = "7d41c9a0be3358f2a6e0d17c4b92f85e306aa1cd";

struct Credentials
{
    QString email;
    QString password;
    QString callsign;
    bool operator==(const Credentials&) const = default;
};

// application/x-www-form-urlencoded value: UTF-8, then percent-encoding, a
// blank as "+", so the service receives every character unchanged.
QByteArray formEncode(const QString& value);

// One try of one contact for /realtime.php, with the credentials of that
// moment: the outbox keeps only the record, never a body with a password.
struct RealtimeRequest
{
    static RealtimeRequest make(const Credentials& credentials, const QString& record);

    QString record;        // the ADIF record, "<EOR>" included
    QByteArray body;       // email=..&password=..&callsign=..&api=..&adif=.. as posted
    QByteArray reportBody; // the same with the password written as "********", for the error log
};
