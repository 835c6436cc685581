#include "upload/RealtimeRequest.h"

namespace {

// What application/x-www-form-urlencoded leaves as it is; every other byte is
// percent-encoded ("~" included, unlike in URLs).
bool isUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '*';
}

QByteArray bodyWithPassword(const Credentials& credentials, const QString& password, const QString& record)
{
    return "email=" + formEncode(credentials.email) + "&password=" + formEncode(password) +
           "&callsign=" + formEncode(credentials.callsign) +
           "&api=" + formEncode(QLatin1String(ApplicationKey)) + "&adif=" + formEncode(record);
}

} // namespace

QByteArray formEncode(const QString& value)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = value.toUtf8();
    QByteArray encoded;
    encoded.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        if (isUnreserved(c)) {
            encoded += c;
        } else if (c == ' ') {
            encoded += '+';
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += Hex[byte >> 4];
            encoded += Hex[byte & 0x0F];
        }
    }
    return encoded;
}

RealtimeRequest RealtimeRequest::make(const Credentials& credentials, const QString& record)
{
    return {record, bodyWithPassword(credentials, credentials.password, record),
            bodyWithPassword(credentials, QStringLiteral("********"), record)};
}
