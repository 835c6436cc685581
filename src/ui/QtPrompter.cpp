#include "ui/QtPrompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace {

// The answers each set offers, the one that changes nothing last.
QList<Prompter::Answer> answers(Prompter::Buttons buttons)
{
    using A = Prompter::Answer;
    switch (buttons) {
    case Prompter::Buttons::Ok:
        return {A::Ok};
    case Prompter::Buttons::OkCancel:
        return {A::Ok, A::Cancel};
    case Prompter::Buttons::YesNo:
        return {A::Yes, A::No};
    case Prompter::Buttons::QuitCancel:
        return {A::Quit, A::Cancel};
    case Prompter::Buttons::QuitTrayCancel:
        return {A::Quit, A::Tray, A::Cancel};
    }
    return {A::Ok};
}

QAbstractButton* addButton(QMessageBox& box, Prompter::Answer answer)
{
    switch (answer) {
    case Prompter::Answer::Ok:
        return box.addButton(QMessageBox::Ok);
    case Prompter::Answer::Cancel:
        return box.addButton(QMessageBox::Cancel);
    case Prompter::Answer::Yes:
        return box.addButton(QMessageBox::Yes);
    case Prompter::Answer::No:
        return box.addButton(QMessageBox::No);
    case Prompter::Answer::Quit:
        return box.addButton(QObject::tr("&Quit"), QMessageBox::AcceptRole);
    case Prompter::Answer::Tray:
        return box.addButton(QObject::tr("Keep Running in the &Tray"), QMessageBox::ActionRole);
    }
    return nullptr;
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

} // namespace

Prompter::Answer QtPrompter::message(QWidget* parent, const QString& text, const QString& title,
                                     Buttons buttons, Icon icon, Answer preferred)
{
    QMessageBox box(standardIcon(icon), title.isEmpty() ? QString::fromLatin1(DefaultTitle) : title,
                    messageText(text), QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QHash<QAbstractButton*, Answer> answerOf;
    const QList<Answer> offered = answers(buttons);
    for (const Answer answer : offered) {
        QAbstractButton* button = addButton(box, answer);
        answerOf.insert(button, answer);
        if (answer == preferred || (answer == offered.first() && preferred == Answer::Ok))
            box.setDefaultButton(qobject_cast<QPushButton*>(button));
    }
    // Escape or the frame's close button give the answer that changes nothing.
    box.setEscapeButton(answerOf.key(offered.last()));
    box.exec();
    return answerOf.value(box.clickedButton(), offered.last());
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
    return QString(text)
        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
}
