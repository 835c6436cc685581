#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class QTimer;
class StatusModel;

// Without a window, what happens goes to standard output: one timestamped
// line per outcome or state change, at most one line per Interval, so a burst
// is summed up in a line rather than flooding the journal.
class EventReport final : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<void(const QString& line)>;
    static constexpr std::chrono::milliseconds Interval{100};

    EventReport(StatusModel& status, Writer writer, QObject* parent = nullptr);

    // Before any contact: where the files are, whether the login and the
    // service's address will do, what an earlier run left.
    void startUp(const QString& folder);
    // Writes what has gathered now (for closing).
    void flush();

private:
    void state(const QString& kind, const QString& text);
    void gathered();

    StatusModel& m_status;
    Writer m_writer;
    QTimer* m_timer = nullptr;
    QStringList m_accepted;
    int m_acceptedCount = 0;
    int m_refusedCount = 0;
    QString m_refusedCall;
    QString m_refusedReason;
    QStringList m_failures;
    int m_kept = 0;
    QList<std::pair<QString, QString>> m_states; // kind, latest text
    QHash<QString, QString> m_lastState;
};
