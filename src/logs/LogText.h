#pragma once

#include <QByteArray>
#include <QString>

// What the log service says goes into ErrorLog.txt and DebugLog.txt only in
// a form that cannot break the block format or leak the password: control
// characters other than tab, CR and LF replaced, cut to ReplyLimit
// characters (the cut is said), lines that read like a block marker
// indented, and the password masked wherever it stands, plain or
// form-encoded. Passwords shorter than MinMaskedPassword are left alone:
// masking "ab" would mangle the reply and hide nothing.
namespace LogText {

inline constexpr qsizetype ReplyLimit = 2000;
inline constexpr qsizetype MinMaskedPassword = 4;
inline const QString Mask = QStringLiteral("********");

QString safeReply(const QByteArray& reply, const QString& password);
QString safeText(const QString& text, const QString& password);

} // namespace LogText
