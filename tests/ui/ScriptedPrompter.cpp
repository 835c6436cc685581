#include "ScriptedPrompter.h"

#include <QTest>

namespace {

bool offers(Prompter::Buttons buttons, Prompter::Answer answer)
{
    switch (buttons) {
    case Prompter::Buttons::Ok:
        return answer == Prompter::Answer::Ok;
    case Prompter::Buttons::OkCancel:
        return answer == Prompter::Answer::Ok || answer == Prompter::Answer::Cancel;
    case Prompter::Buttons::YesNo:
        return answer == Prompter::Answer::Yes || answer == Prompter::Answer::No;
    }
    return false;
}

} // namespace

Prompter::Answer ScriptedPrompter::message(QWidget* parent, const QString& text, const QString& title,
                                           Buttons buttons, Icon icon)
{
    messages.append(Message{parent, text, title, buttons, icon});
    if (answers.isEmpty())
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;

    const Answer answer = answers.dequeue();
    // A scripted answer the box could not give means the code asked with the
    // wrong buttons; say so instead of letting the test pass on a lie.
    if (!offers(buttons, answer))
        QTest::qFail(
            qPrintable(QStringLiteral("scripted answer does not fit the buttons of \"%1\"").arg(text)),
            __FILE__, __LINE__);
    return answer;
}

QString ScriptedPrompter::openFileName(QWidget* parent, const QString& title, const QString& directory,
                                       const QString& filter)
{
    fileDialogs.append(FileDialog{parent, title, directory, filter});
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

void ScriptedPrompter::openUrl(const QUrl& url)
{
    openedUrls.append(url);
}
