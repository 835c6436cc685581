#pragma once

#include "ui/Prompter.h"

#include <QStringList>

// The real dialogs: QMessageBox, QFileDialog and the desktop's URL handlers.
class QtPrompter final : public Prompter
{
public:
    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon,
                   Answer preferred = Answer::Ok) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                         const QString& filter) override;
    void openUrl(const QUrl& url) override;
    void requestAttention(QWidget* window) override;

    // "ADIF (*.adi) | *.adi|All files (*.*)|*.*" -> {"ADIF (*.adi)", "All files (*.*)"}
    static QStringList nameFilters(const QString& barSeparated);
    // Message texts use a lone CR as line break; Qt wants LF.
    static QString messageText(const QString& text);

    static constexpr const char* DefaultTitle = "Tarvex";
};
