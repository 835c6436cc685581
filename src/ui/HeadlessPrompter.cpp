#include "ui/HeadlessPrompter.h"

#include <QDateTime>
#include <QStringList>

namespace {

QString oneLine(const QString& text)
{
    QStringList lines;
    for (const QString& line : QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines << line.trimmed();
    }
    return lines.join(QLatin1Char(' '));
}

} // namespace

Prompter::Answer HeadlessPrompter::defaultAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        return Answer::No;
    }
    return Answer::Cancel;
}

Prompter::Answer HeadlessPrompter::message(QWidget*, const QString& text, const QString& title, Buttons buttons,
                                           Icon)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    std::fprintf(m_out, "%s %s: %s\n", qPrintable(stamp),
                 qPrintable(title.isEmpty() ? QStringLiteral("Tarvex") : title), qPrintable(oneLine(text)));
    std::fflush(m_out);
    return defaultAnswer(buttons);
}

QString HeadlessPrompter::openFileName(QWidget*, const QString&, const QString&, const QString&)
{
    return {};
}

void HeadlessPrompter::openUrl(const QUrl& url)
{
    std::fprintf(m_out, "Tarvex: open %s yourself; there is no display here.\n",
                 qPrintable(url.toDisplayString()));
    std::fflush(m_out);
}
