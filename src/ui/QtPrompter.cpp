#include "ui/QtPrompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace {

QMessageBox::StandardButtons standardButtons(Prompter::Buttons buttons)
{
    switch (buttons) {
    case Prompter::Buttons::Ok:
        return QMessageBox::Ok;
    case Prompter::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case Prompter::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon standardIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::None:
        return QMessageBox::NoIcon;
    case Prompter::Icon::Exclamation:
        return QMessageBox::Warning;
    case Prompter::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// Closing the box with Escape or the frame's close button counts as the
// negative answer of its set, as users of standard dialogs expect.
Prompter::Answer answerFor(int clicked, Prompter::Buttons buttons)
{
    switch (clicked) {
    case QMessageBox::Ok:
        return Prompter::Answer::Ok;
    case QMessageBox::Yes:
        return Prompter::Answer::Yes;
    case QMessageBox::No:
        return Prompter::Answer::No;
    case QMessageBox::Cancel:
        return Prompter::Answer::Cancel;
    default:
        break;
    }
    switch (buttons) {
    case Prompter::Buttons::Ok:
        return Prompter::Answer::Ok;
    case Prompter::Buttons::OkCancel:
        return Prompter::Answer::Cancel;
    case Prompter::Buttons::YesNo:
        return Prompter::Answer::No;
    }
    return Prompter::Answer::Cancel;
}

} // namespace

Prompter::Answer QtPrompter::message(QWidget* parent, const QString& text, const QString& title,
                                     Buttons buttons, Icon icon, Answer preferred)
{
    QMessageBox box(standardIcon(icon), title.isEmpty() ? QString::fromLatin1(DefaultTitle) : title,
                    messageText(text), standardButtons(buttons), parent);
    box.setTextFormat(Qt::PlainText);
    if (preferred == Answer::No)
        box.setDefaultButton(QMessageBox::No);
    else if (preferred == Answer::Cancel)
        box.setDefaultButton(QMessageBox::Cancel);
    return answerFor(box.exec(), buttons);
}

QString QtPrompter::openFileName(QWidget* parent, const QString& title, const QString& directory,
                                 const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, directory,
                                        nameFilters(filter).join(QStringLiteral(";;")));
}

void QtPrompter::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

void QtPrompter::requestAttention(QWidget* window)
{
    QApplication::alert(window, 0);
}

QStringList QtPrompter::nameFilters(const QString& barSeparated)
{
    // Qt takes a filter's patterns from the parentheses at the end of its
    // description, so whatever the description shows there is replaced by the
    // patterns the bar-separated form actually filters on.
    static const QRegularExpression trailingGroup(QStringLiteral("\\s*\\([^()]*\\)$"));
    static const QRegularExpression patternSeparator(QStringLiteral("\\s*;\\s*"));

    const QStringList parts = barSeparated.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns =
            parts[i + 1].trimmed().split(patternSeparator, Qt::SkipEmptyParts).join(QLatin1Char(' '));
        if (patterns.isEmpty())
            continue;
        QString description = parts[i].trimmed();
        description.remove(trailingGroup);
        filters << (description.isEmpty() ? patterns
                                          : description + QStringLiteral(" (") + patterns + QLatin1Char(')'));
    }
    return filters;
}

QString QtPrompter::messageText(const QString& text)
{
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}
