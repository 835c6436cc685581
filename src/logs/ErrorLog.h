#pragma once

#include <QString>

// The error log: one six-line block per reported error. Starting the error
// indicator is the window's business; it follows every call, written or not.
class ErrorLog final
{
public:
    explicit ErrorLog(QString path);

    // Returns whether the block reached the file; never raises, never shows anything.
    bool write(const QString& Title, const QString& Setting) const;

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
} // namespace ErrorTitle
