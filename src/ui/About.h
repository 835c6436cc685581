#pragma once

#include <QUrl>
#include <QWidget>

#include <chrono>

class Prompter;
class QLabel;
class UpdateChecker;
struct UpdateCheckResult;

// The About window: version, author, a mail link and the update link. The
// update check runs in the background; only its answer shows.
class About final : public QWidget
{
    Q_OBJECT

public:
    // `updateBase` is where the version file and the archive live; empty
    // means the built-in update host.
    explicit About(Prompter& prompter, const QString& dataFolder, const QUrl& updateBase = QUrl(),
                   QWidget* parent = nullptr);

    QUrl updateBase() const { return m_updateBase; }
    void setUpdateCheckTimeout(std::chrono::milliseconds timeout);
    bool isCheckingForUpdate() const;

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
    void CheckforUpdate();
    void showUpdateAnswer(const UpdateCheckResult& result);

    Prompter& m_prompter;
    QUrl m_updateBase;
    UpdateChecker* m_checker = nullptr;
    QLabel* m_pressedLink = nullptr;
};
