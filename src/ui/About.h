#pragma once

#include "settings/Settings.h"
#include "upload/HttpClient.h"
#include "upload/UpdateChecker.h"

#include <QUrl>
#include <QWidget>

#include <chrono>

class Prompter;
class QLabel;

// The About window: version, author, a mail link and the update link. The
// update check runs in the background; only its answer shows.
class About final : public QWidget
{
    Q_OBJECT

public:
    // The update host is read from the settings at each check.
    About(Prompter& prompter, HttpClient& http, const QString& dataFolder, const Settings& settings,
          QWidget* parent = nullptr);
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
    // The link colours as shown: the ones above unless the theme's background
    // makes them unreadable.
    QColor linkColour() const;
    QColor hotLinkColour() const;

signals:
    void updateCheckRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setupUi(const QString& dataFolder);
    void Form_Load();
    void Label3_Click();
    void Label5_Click();
    void CheckforUpdate();
    void showUpdateAnswer(const UpdateCheckResult& result);
    void setLinkColours();

    Prompter& m_prompter;
    Settings m_settings;
    QUrl m_updateBase;
    UpdateChecker m_checker;
    QLabel* m_pressedLink = nullptr;
};
