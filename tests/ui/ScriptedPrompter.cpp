#include "ScriptedPrompter.h"

Prompter::Answer ScriptedPrompter::message(QWidget* parent, const QString& text, const QString& title,
                                           Buttons buttons, Icon icon, Answer preferred)
{
    messages.append(Message{parent, text, title, buttons, icon, preferred});
    if (answers.isEmpty())
        return buttons == Buttons::YesNo && preferred == Answer::Ok ? Answer::Yes : preferred;

    return answers.dequeue();
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
