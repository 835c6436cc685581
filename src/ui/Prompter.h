#pragma once

#include <QString>
#include <QUrl>

class QWidget;

// Everything that would wait for the user or hand over to the desktop goes
// through here, so the windows can be driven by tests without blocking.
class Prompter
{
public:
    enum class Buttons
    {
        Ok,
        OkCancel,
        YesNo,
        QuitCancel,
        QuitTrayCancel,
    };
    enum class Icon
    {
        None,
        Exclamation,
        Critical
    };
    enum class Answer
    {
        Ok,
        Cancel,
        Yes,
        No,
        Quit,
        Tray,
    };

    virtual ~Prompter() = default;

    // An empty title means the application's own ("Tarvex"). `preferred` is
    // the button Enter presses: questions that destroy something prefer No.
    virtual Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                           Icon icon, Answer preferred = Answer::Ok) = 0;

    // The filter is in the bar-separated form "description|pattern|description|pattern".
    // Returns the chosen path, or an empty text when the user cancels.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                                 const QString& filter) = 0;

    // Files come as QUrl::fromLocalFile; the outcome is not reported.
    virtual void openUrl(const QUrl& url) = 0;

    // Asks the desktop to draw the operator's eye to the window (a flashing
    // task bar entry) until the window is activated.
    virtual void requestAttention(QWidget* window) = 0;
};
