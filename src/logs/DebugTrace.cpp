#include "logs/DebugTrace.h"

#include "logs/LogFile.h"
#include "logs/LogText.h"

#include <atomic>
#include <limits>

namespace {
// Read by the capture thread as well as the window's.
std::atomic<bool> debugFlag = false;
} // namespace

DebugTrace::DebugTrace(QString logPath) : m_path(std::move(logPath)) {}

bool DebugTrace::enabled()
{
    return debugFlag;
}

void DebugTrace::setEnabled(bool on)
{
    debugFlag = on;
}

bool DebugTrace::write(const QString& Key, const QString& Setting) const
{
    // Datagrams and replies come from others; uncut, but never a control character.
    const QString entry = logTimestamp() + QLatin1String(" - ") + Key + QLatin1String(" = ") +
                          LogText::safeText(Setting, {}, std::numeric_limits<qsizetype>::max());
    return appendToFile(m_path, entry.toUtf8() + LineEnd);
}
