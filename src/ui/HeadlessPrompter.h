#pragma once

#include "ui/Prompter.h"

#include <cstdio>

// Without a display nobody can answer a box: each message goes to standard
// error and is answered with its default at once, so start-up never stops.
// The default is the answer that changes nothing (No, Cancel).
class HeadlessPrompter final : public Prompter
{
public:
    explicit HeadlessPrompter(std::FILE* out = stderr) : m_out(out) {}

    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                   Icon icon) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                         const QString& filter) override;
    void openUrl(const QUrl& url) override;
    // Nobody sees a task bar here; the event lines already say what happened.
    void requestAttention(QWidget*) override {}

    static Answer defaultAnswer(Buttons buttons);

private:
    std::FILE* m_out;
};
