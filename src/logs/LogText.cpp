#include "logs/LogText.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <limits>

namespace {

bool isBoundary(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1String("----------")) ||
           trimmed.startsWith(QLatin1String("=Error Report"));
}

// Every spelling of one character that a form encoder, a URL, HTML or JSON
// may have turned it into.
QString spellings(QChar c, QStringView utf16)
{
    QStringList forms{QRegularExpression::escape(utf16.toString())};
    QString percent;
    for (const char byte : utf16.toString().toUtf8())
        percent += QStringLiteral("%%1").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0'));
    const uint code = utf16.size() == 2 ? QChar::surrogateToUcs4(utf16[0], utf16[1]) : c.unicode();
    forms << QStringLiteral("(?i:%1)").arg(percent) << QStringLiteral("&#0*%1;").arg(code)
          << QStringLiteral("(?i:&#x0*%1;)").arg(code, 0, 16);
    if (utf16.size() == 1)
        forms << QStringLiteral("(?i:\\\\u%1)").arg(code, 4, 16, QLatin1Char('0'));
    if (c == QLatin1Char(' '))
        forms << QStringLiteral("\\+");
    static const QList<std::pair<QChar, QString>> named{
        {u'&', QStringLiteral("&amp;")},    {u'<', QStringLiteral("&lt;")},
        {u'>', QStringLiteral("&gt;")},     {u'"', QStringLiteral("&quot;|\\\\\"")},
        {u'\'', QStringLiteral("&apos;")},  {u'/', QStringLiteral("\\\\/")},
        {u'\\', QStringLiteral("\\\\\\\\")}};
    for (const auto& [character, escaped] : named) {
        if (c == character)
            forms << escaped;
    }
    return QStringLiteral("(?:%1)").arg(forms.join(QLatin1Char('|')));
}

const QRegularExpression& maskFor(const QString& password)
{
    // One password is in use at a time; its pattern is made once.
    thread_local QString madeFor;
    thread_local QRegularExpression pattern;
    if (password != madeFor || !pattern.isValid()) {
        QString text;
        for (qsizetype i = 0; i < password.size(); ++i) {
            const qsizetype length = password[i].isHighSurrogate() && i + 1 < password.size() ? 2 : 1;
            text += spellings(password[i], QStringView(password).mid(i, length));
            i += length - 1;
        }
        pattern = QRegularExpression(text);
        madeFor = password;
    }
    return pattern;
}

} // namespace

namespace LogText {

QString safeText(const QString& input, const QString& password, qsizetype limit)
{
    QString text = input;
    if (password.size() >= MinMaskedPassword)
        text.replace(maskFor(password), Mask);

    const qsizetype total = text.size();
    if (total > limit) {
        text.truncate(limit);
        text += QStringLiteral("\r\n[cut: the first %1 of %2 characters are shown]").arg(limit).arg(total);
    }
    for (QChar& c : text) {
        const bool control = c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
                             c.category() == QChar::Separator_Paragraph;
        if (control && c != u'\t' && c != u'\r' && c != u'\n')
            c = QChar(QChar::ReplacementCharacter);
    }
    if (text.contains(QLatin1String("----------")) || text.contains(QLatin1String("=Error Report"))) {
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines) {
            if (isBoundary(line))
                line.prepend(QLatin1String("  "));
        }
        text = lines.join(QLatin1Char('\n'));
    }
    return text;
}

QString safeReply(const QByteArray& reply, const QString& password)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(reply);
    if (utf8.hasError())
        text = QString::fromLatin1(reply);
    return safeText(text, password);
}

QString oneLine(const QString& text)
{
    QString line = safeText(text, {}, std::numeric_limits<qsizetype>::max());
    return line.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

} // namespace LogText
