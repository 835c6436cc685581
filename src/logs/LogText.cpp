#include "logs/LogText.h"

#include "upload/RealtimeRequest.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

bool isMarker(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    return trimmed == QLatin1String("----------") || trimmed == QLatin1String("=Error Report=") ||
           trimmed == QLatin1String("=Error Report End=");
}

} // namespace

namespace LogText {

QString safeReply(const QByteArray& reply, const QString& password)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(reply);
    if (utf8.hasError())
        text = QString::fromLatin1(reply);
    return safeText(text, password);
}

QString safeText(const QString& input, const QString& password)
{
    QString text = input;
    if (password.size() >= MinMaskedPassword) {
        text.replace(password, Mask);
        const QString encoded = QString::fromLatin1(formEncode(password));
        if (encoded != password)
            text.replace(encoded, Mask);
    }

    const qsizetype total = text.size();
    if (total > ReplyLimit) {
        text.truncate(ReplyLimit);
        text += QStringLiteral("\r\n[cut: the first %1 of %2 characters are shown]").arg(ReplyLimit).arg(total);
    }

    for (QChar& c : text) {
        const char16_t u = c.unicode();
        const bool control = (u < 0x20 && u != u'\t' && u != u'\r' && u != u'\n') || (u >= 0x7F && u <= 0x9F);
        if (control)
            c = QChar(QChar::ReplacementCharacter);
    }

    if (text.contains(QLatin1String("--")) || text.contains(QLatin1String("=Error Report"))) {
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines) {
            if (isMarker(line))
                line.prepend(QLatin1String("  "));
        }
        text = lines.join(QLatin1Char('\n'));
    }
    return text;
}

} // namespace LogText
