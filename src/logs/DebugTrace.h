#pragma once

#include <QString>

// The debug log: "timestamp - Key = Setting" lines in DebugLog.txt, written
// only while the process-wide debug flag is set (trace points test it).
class DebugTrace final
{
public:
    explicit DebugTrace(QString logPath);

    static bool enabled();
    static void setEnabled(bool on);

    // Appends one entry; the debug log is a diagnostic, so callers carry on
    // whatever this returns.
    bool write(const QString& Key, const QString& Setting) const;

    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// Keys of the trace points; each ends in two blanks, an arrow and a blank.
namespace TraceKey {
inline const QString DatagramArrival = QStringLiteral("Socket Date Arrival  -> ");
inline const QString XmlError = QStringLiteral("XML Error  -> ");
inline const QString LogRecord = QStringLiteral("Log Record  -> ");
inline const QString UploadReturn = QStringLiteral("Corvane RT Upload Return  -> ");
} // namespace TraceKey
