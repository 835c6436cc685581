#pragma once

#include "settings/Settings.h"
#include "upload/HttpClient.h"
#include "upload/UpdateChecker.h"

#include <QUrl>
#include <QWidget>

#include <chrono>
#include <memory>

class Prompter;
class QLabel;
namespace Ui {
class About;
}

// The About window: version, author, a mail link and the update link. The
// update check runs in the background; only its answer shows.
class About final : public QWidget
{
    Q_OBJECT

public:
    // The update host is read from the settings at each check.
    About(Prompter& prompter, HttpClient& http, const QString& dataFolder, const Settings& settings,
          QWidget* parent = nullptr);
    ~About() override;
    void setUpdateCheckTimeout(std::chrono::milliseconds timeout);
    bool isCheckingForUpdate() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void follow(QLabel* link);
    void CheckforUpdate();
    void showUpdateAnswer(const UpdateCheckResult& result);
    void setLinkColours();

    std::unique_ptr<Ui::About> ui;
    Prompter& m_prompter;
    Settings m_settings;
    QUrl m_updateBase;
    UpdateChecker m_checker;
    QLabel* m_pressedLink = nullptr;
};
