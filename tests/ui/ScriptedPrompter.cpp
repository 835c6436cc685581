#include "ScriptedPrompter.h"

Prompter::Answer ScriptedPrompter::message(QWidget*, const QString& text, const QString& title,
                                           Buttons buttons, Icon, Answer preferred)
{
    messages.append(Message{text, title, buttons, preferred});
    if (answers.isEmpty())
        return buttons == Buttons::YesNo && preferred == Answer::Ok ? Answer::Yes : preferred;
    return answers.dequeue();
}

QString ScriptedPrompter::openFileName(QWidget*, const QString&, const QString& directory, const QString&)
{
    fileDialogFolders.append(directory);
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}
