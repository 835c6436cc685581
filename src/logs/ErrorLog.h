#pragma once

#include <QString>

// The error log: one six-line block per reported error. The disk keeper is
// its writer while the station runs; starting the error indicator is the
// window's business.
class ErrorLog final
{
public:
    explicit ErrorLog(QString path);

    // A block stamped now. Returns whether it reached the file; never raises, never shows anything.
    bool write(const QString& Title, const QString& Setting) const;
    // A block made earlier by blockText(), so it carries the time it was reported.
    bool append(const QString& block, QString* error = nullptr) const;

    static QString blockText(const QString& timestamp, const QString& Title, const QString& Setting);

    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// The headings of the error blocks; each is defined here and nowhere else.
namespace ErrorTitle {
inline const QString ServiceError = QStringLiteral("Corvane Error Message Returned");
inline const QString Unreachable = QStringLiteral("Corvane could not be reached");
inline const QString LoginRefused = QStringLiteral("Corvane refused the login");
inline const QString UnreadableDatagram = QStringLiteral("Contact datagram could not be read");
inline const QString UnusableSetting = QStringLiteral("Unusable setting in Tarvex.ini");
inline const QString NotListening = QStringLiteral("Not listening on UDP port %1");
inline const QString Outbox = QStringLiteral("Outbox");
inline const QString SenderRefused = QStringLiteral("Datagrams from a sender not allowed");
inline const QString Relay = QStringLiteral("Relay");
} // namespace ErrorTitle
