#pragma once

#include <QByteArray>
#include <QString>

// Whatever others send us (datagrams, records, the service's replies) reaches
// ErrorLog.txt, DebugLog.txt and standard output only in a form that cannot
// forge a line or leak the password: control characters other than tab, CR
// and LF replaced (printable Unicode kept), cut to a limit (the cut is said),
// lines that could be read as a block boundary indented, and the password
// masked in every common spelling (percent-encoded in either case, "+" or
// "%20" for blanks, HTML and JSON escapes). Passwords shorter than
// MinMaskedPassword are left alone: masking "ab" would mangle the text and
// hide nothing.
namespace LogText {

inline constexpr qsizetype ReplyLimit = 2000;
inline constexpr qsizetype MinMaskedPassword = 4;
inline const QString Mask = QStringLiteral("********");

QString safeText(const QString& text, const QString& password = {}, qsizetype limit = ReplyLimit);
// The bytes as UTF-8 where they are, else Latin-1, then safeText.
QString safeReply(const QByteArray& reply, const QString& password);
// For outputs of one line per event (the headless output, the journal): CR
// and LF are shown as \r and \n, so nothing sent to Tarvex starts a line.
QString oneLine(const QString& text);

} // namespace LogText
