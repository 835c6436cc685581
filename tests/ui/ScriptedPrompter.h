#pragma once

#include "ui/Prompter.h"

#include <QList>
#include <QQueue>
#include <QStringList>

// Answers every dialog at once from queues the test fills, and keeps a record
// of what was asked. An empty answer queue presses Enter: the preferred
// button (Ok or Yes unless the box prefers No); an empty file queue gives a
// cancelled dialog.
class ScriptedPrompter final : public Prompter
{
public:
    struct Message
    {
        QString text;
        QString title;
        Buttons buttons;
        Answer preferred;
    };

    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer preferred = Answer::Ok) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                         const QString& filter) override;
    void openUrl(const QUrl& url) override { openedUrls.append(url); }
    void requestAttention(QWidget*) override { ++attentionRequests; }

    QQueue<Answer> answers;
    QQueue<QString> fileNames;

    QList<Message> messages;
    QStringList fileDialogFolders;
    QList<QUrl> openedUrls;
    int attentionRequests = 0;
};
