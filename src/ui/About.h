#pragma once

#include <QWidget>

class Prompter;
class QLabel;

// The About window: version, author, a mail link and the update link. The
// update check itself is the owner's business; this window only asks for it.
class About final : public QWidget
{
    Q_OBJECT

public:
    explicit About(Prompter& prompter, const QString& dataFolder, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr; // version and author
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr; // "Send Email" link
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr; // "Click Here" update link
    QLabel* lblDataFolder = nullptr;

    static const QColor LinkColour;
    static const QColor HotLinkColour;

signals:
    void updateCheckRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void setupUi(const QString& dataFolder);
    void Form_Load();
    void Label3_Click();
    void Label5_Click();

    Prompter& m_prompter;
    QLabel* m_pressedLink = nullptr;
};
