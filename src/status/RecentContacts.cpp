#include "status/RecentContacts.h"

#include "capture/AdifRecord.h"
#include "status/StatusModel.h"

RecentContacts::RecentContacts(QObject* parent) : QAbstractTableModel(parent) {}

void RecentContacts::attach(StatusModel& status)
{
    connect(&status, &StatusModel::contactReceived, this,
            [this](quint64 key, const QString& record, bool added) { add(key, record, added); });
    connect(&status, &StatusModel::contactAccepted, this, [this](quint64 key) { setState(key, State::Accepted); });
    connect(&status, &StatusModel::contactRefused, this,
            [this](quint64 key, const QString&, const QString& reason) { setState(key, State::Refused, reason); });
    connect(&status, &StatusModel::contactKept, this, [this](quint64 key) { setState(key, State::Kept); });
    connect(&status, &StatusModel::changed, this, [this, &status] {
        const StationState& s = status.state();
        setWaitingReason(s.hold == UploadHold::None ? QString() : s.holdReason);
    });
}

void RecentContacts::add(quint64 key, const QString& record, bool added, const QTime& time)
{
    const quint64 serial = m_firstSerial + m_rows.size();
    m_rows.push_back({serial, key, time, adifField(record, u"CALL"), adifField(record, u"BAND"), adifField(record, u"MODE"),
                      added ? State::Waiting : State::NotSent, QString()});
    if (key != 0)
        m_serialOfKey.insert(key, serial);
    while (m_rows.size() > Capacity) {
        const Row& oldest = m_rows.front();
        const auto found = m_serialOfKey.constFind(oldest.key);
        if (found != m_serialOfKey.cend() && *found == m_firstSerial)
            m_serialOfKey.erase(found);
        m_rows.pop_front();
        ++m_firstSerial;
    }
    m_dirty = true;
}

void RecentContacts::setState(quint64 key, State state, const QString& detail)
{
    const auto found = m_serialOfKey.constFind(key);
    if (found == m_serialOfKey.cend())
        return;
    Row& row = m_rows[*found - m_firstSerial];
    // A refusal is still worth reading once the contact is in the file.
    row.detail = state == State::Kept && detail.isEmpty() ? row.detail : detail;
    row.state = state;
    if (state != State::Waiting && state != State::Refused)
        m_serialOfKey.erase(found);
    m_dirty = true;
}

void RecentContacts::setWaitingReason(const QString& reason)
{
    if (reason == m_waitingReason)
        return;
    m_waitingReason = reason;
    m_dirty = true;
}

void RecentContacts::setLive(bool live)
{
    m_live = live;
    if (live)
        publish();
}

void RecentContacts::publish()
{
    if (!m_live || !m_dirty)
        return;
    m_dirty = false;
    // Rows leave at the top and arrive at the bottom; only states change in
    // between, so the views keep their place and selection.
    qsizetype dropped = 0;
    while (dropped < m_published.size() && m_published[dropped].serial < m_firstSerial)
        ++dropped;
    if (dropped > 0) {
        beginRemoveRows(QModelIndex(), 0, int(dropped - 1));
        m_published.remove(0, dropped);
        endRemoveRows();
    }
    const qsizetype kept = m_published.size();
    for (qsizetype i = 0; i < kept; ++i)
        m_published[i] = m_rows[size_t(i)];
    if (kept > 0)
        emit dataChanged(index(0, 0), index(int(kept - 1), ColumnCount - 1));
    if (qsizetype(m_rows.size()) > kept) {
        beginInsertRows(QModelIndex(), int(kept), int(m_rows.size() - 1));
        m_published.append(QList<Row>(m_rows.cbegin() + kept, m_rows.cend()));
        endInsertRows();
    }
}

int RecentContacts::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_published.size());
}

int RecentContacts::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString RecentContacts::stateText(State state, const QString& detail)
{
    const auto with = [&detail](const QString& text) {
        return detail.isEmpty() ? text : text + QStringLiteral(": ") + detail;
    };
    switch (state) {
    case State::Waiting:
        return with(tr("waiting"));
    case State::Accepted:
        return tr("accepted");
    case State::Refused:
        return with(tr("refused"));
    case State::Kept:
        return with(tr("kept in the not-uploaded file"));
    case State::NotSent:
        return tr("not sent: automatic upload is off");
    }
    return {};
}

QVariant RecentContacts::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_published.size())
        return {};
    // A reason too long for its column reads whole in the tool tip.
    if (role == Qt::ToolTipRole && index.column() == StateColumn)
        return data(index, Qt::DisplayRole);
    if (role != Qt::DisplayRole)
        return {};
    const Row& row = m_published[index.row()];
    switch (index.column()) {
    case TimeColumn:
        return row.time.toString(QStringLiteral("HH:mm:ss"));
    case CallColumn:
        return row.call;
    case BandColumn:
        return row.band;
    case ModeColumn:
        return row.mode;
    case StateColumn:
        return stateText(row.state, row.state == State::Waiting ? m_waitingReason : row.detail);
    default:
        return {};
    }
}

QVariant RecentContacts::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case CallColumn:
        return tr("Call");
    case BandColumn:
        return tr("Band");
    case ModeColumn:
        return tr("Mode");
    case StateColumn:
        return tr("State");
    default:
        return {};
    }
}
