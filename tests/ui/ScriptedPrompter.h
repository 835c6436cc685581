#pragma once

#include "ui/Prompter.h"

#include <QList>
#include <QPointer>
#include <QQueue>
#include <QWidget>

// Answers every dialog at once from queues the test fills, and keeps a record
// of what was asked. An empty answer queue presses Enter: the preferred
// button (Ok or Yes unless the box prefers No); an empty file queue gives a
// cancelled dialog.
class ScriptedPrompter final : public Prompter
{
public:
    struct Message
    {
        QPointer<QWidget> parent;
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
        Answer preferred;
    };
    struct FileDialog
    {
        QPointer<QWidget> parent;
        QString title;
        QString directory;
        QString filter;
    };

    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer preferred = Answer::Ok) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                         const QString& filter) override;
    void openUrl(const QUrl& url) override;
    void requestAttention(QWidget*) override { ++attentionRequests; }

    QQueue<Answer> answers;
    QQueue<QString> fileNames;

    QList<Message> messages;
    QList<FileDialog> fileDialogs;
    QList<QUrl> openedUrls;
    int attentionRequests = 0;
};
