#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class QTimer;
class StatusModel;

// Decides what is worth a desktop notification, once per episode: contacts
// starting to wait (not again until nothing waits or the service takes a
// contact), the service answering again, and refusals (a wrong login refuses
// every contact, so they are gathered: one at once, then at most one per
// window for the rest).
class Notifications final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultRefusalWindow{60000};

    explicit Notifications(StatusModel& status, QObject* parent = nullptr);
    void setRefusalWindow(std::chrono::milliseconds window);

signals:
    void notify(const QString& title, const QString& text);

private:
    void followStatus();
    void refused(const QString& reason);

    StatusModel& m_status;
    QTimer* m_refusals = nullptr;
    int m_moreRefused = 0;
    QString m_lastReason;
    bool m_waiting = false;
};
