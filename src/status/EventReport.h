#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class ContactPipeline;
class QTimer;
class StationStatus;

// Without a window, what happens goes to standard output: one timestamped
// line per outcome or state change, at most one line per Interval, so a burst
// is summed up in a line rather than flooding the journal.
class EventReport final : public QObject
{
    Q_OBJECT

public:
    using Writer = std::function<void(const QString& line)>;
    static constexpr std::chrono::milliseconds Interval{100};

    explicit EventReport(Writer writer, QObject* parent = nullptr);

    void attach(StationStatus& status, ContactPipeline& pipeline);

    void accepted(const QString& call);
    void refused(const QString& call, const QString& reason);
    void kept();
    // A new state worth a line of its own ("Listening on UDP port 12060").
    void state(const QString& kind, const QString& text);

    // Writes what has gathered now (for closing).
    void flush();

private:
    void gathered();

    Writer m_writer;
    StationStatus* m_status = nullptr;
    QTimer* m_timer = nullptr;
    QStringList m_accepted;
    int m_acceptedCount = 0;
    int m_refusedCount = 0;
    QString m_refusedCall;
    QString m_refusedReason;
    int m_kept = 0;
    QList<std::pair<QString, QString>> m_states; // kind, latest text
    QHash<QString, QString> m_lastState;
};
