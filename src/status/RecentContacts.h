#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QTime>

#include <deque>

class StatusModel;

// The session's last contacts, newest last, for a view the operator opens to
// see which contact went where. Changes are taken in at once but published
// to views only by publish() (the window calls it at most ten times a
// second) and only while a view is live: a closed view costs a hash lookup
// per change and no signal.
class RecentContacts final : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int Capacity = 500;

    enum Column
    {
        TimeColumn,
        CallColumn,
        BandColumn,
        ModeColumn,
        StateColumn,
        ColumnCount
    };
    enum class State
    {
        Waiting,
        Accepted,
        Refused,
        Kept,
        NotSent,
    };

    explicit RecentContacts(QObject* parent = nullptr);

    void attach(StatusModel& status);

    void add(quint64 key, const QString& record, bool added, const QTime& time = QTime::currentTime());
    void setState(quint64 key, State state, const QString& detail = QString());
    // Why the contacts still waiting wait ("connection refused", ...).
    void setWaitingReason(const QString& reason);

    void setLive(bool live);
    bool isLive() const { return m_live; }
    // Hands what changed since the last call to the views.
    void publish();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString stateText(State state, const QString& detail);

private:
    struct Row
    {
        quint64 serial = 0;
        quint64 key = 0;
        QTime time;
        QString call;
        QString band;
        QString mode;
        State state = State::Waiting;
        QString detail;
    };

    // What the views see, and everything since (the same rows while not live).
    QList<Row> m_published;
    std::deque<Row> m_rows;
    quint64 m_firstSerial = 0; // serial of m_rows.front()
    QHash<quint64, quint64> m_serialOfKey;
    QString m_waitingReason;
    bool m_live = false;
    bool m_dirty = false;
};
