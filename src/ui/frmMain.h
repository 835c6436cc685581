#pragma once

#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <memory>

struct Credentials;
class About;
class Prompter;
class QTimer;
class RecentContactsView;
class Station;
class TrayIcon;
namespace Ui {
class frmMain;
}

// The one window. It shows the station's status and passes on what the
// operator does; the station works the same without it.
class frmMain final : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds RefreshInterval{100};

    frmMain(Station& station, Prompter& prompter, QWidget* parent = nullptr);
    ~frmMain() override;

    // Before Form_Load; the error indicator's clock.
    void setErrorFlashInterval(std::chrono::milliseconds interval);
    // Fills the controls from the started station and arms the error indicator.
    void Form_Load();
    void ProgramErrorFlash(bool Status);

    bool isRequestingAttention() const { return m_requestingAttention; }
    About* aboutWindow() const;
    RecentContactsView* recentWindow() const;
    TrayIcon* tray() const { return m_tray; }

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void applyPort(bool quietWhenInvalid);
    void commitLogin(bool retry);
    QString portShown() const;
    void showLogin(const Credentials& login);
    void requestRefresh();
    void refresh();
    void applyColours();
    void stopErrorIndicator();
    void cmdReset_Click();
    bool logExists(const QString& path);
    void mnuClearErrorLog_Click();
    void mnuAbout_Click();
    void mnuRecent_Click();
    void bringUp(QWidget* window);
    bool mayClose();
    void Form_Unload();

    std::unique_ptr<Ui::frmMain> ui;
    Station& m_station;
    Prompter& m_prompter;
    TrayIcon* m_tray = nullptr;
    QTimer* Timer1 = nullptr; // the error indicator's clock; stopped until an error
    QTimer* m_refreshTimer = nullptr;
    QPointer<About> m_about;
    QPointer<RecentContactsView> m_recentView;
    qint64 m_lastRefresh = 0;
    bool m_requestingAttention = false;
    bool m_checkingPort = false;
    bool m_quitting = false; // a logout or the tray's Quit: nothing is asked
    bool m_unloaded = false;
};
