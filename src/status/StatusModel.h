#pragma once

#include "upload/RealtimeUploader.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// The first panel's texts.
namespace StatusText {
inline const QString Uploading = QStringLiteral("Uploading Data to Corvane");
inline const QString UploadComplete = QStringLiteral("Uploading Data Complete.");
inline const QString UploadRejected = QStringLiteral("Uploading Data Returned Error's");
} // namespace StatusText

// A line that says when it was true.
struct Stamped
{
    QDateTime when;
    QString text;
    bool operator==(const Stamped&) const = default;
};

// Everything the station knows about itself, in one place; the window, the
// tray, the notifications and the headless report only read it.
struct StationState
{
    bool listening = false;
    quint16 port = 0;
    QString notListening; // the system's reason, while the port cannot be had
    UploadHold hold = UploadHold::None;
    QString holdReason;
    QDateTime nextTry;
    int waiting = 0;  // contacts not yet done with by the uploader
    int inFlight = 0; // requests on their way
    qint32 uploaded = 0; // the count of accepted contacts the settings keep
    int accepted = 0;    // this session
    int refused = 0;
    int kept = 0;        // moved to the not-uploaded file
    int held = 0;        // could not be written where they belong
    QString heldReason;
    Stamped lastFailure;
    Stamped lastAccepted; // text: the call sign
    QString job;          // the operator's own job under way (a file upload)
    QString catchUp;      // contacts an earlier run left, while they are sent
    QString verdict;      // the last upload's outcome, as the first status panel says it
    QString datagram;     // the last datagram received
    QDateTime lastContact; // when the last contact arrived
    quint64 kernelDrops = 0;   // datagrams the system dropped: the receive buffer was full
    quint64 refusedDatagrams = 0; // from senders not allowed, never read
    QStringList relayTo;       // where datagrams are relayed
    quint64 relayFailures = 0;
    QString service;      // where contacts go, or why nowhere
    bool serviceUsable = false;
    bool loginSet = false;
    bool autoUpload = false;
    bool debug = false;
    bool attention = false;    // something went to the error log since the operator last looked
    bool errorsOnDisk = false; // there is an error log or a not-uploaded file to look at
    bool operator==(const StationState&) const = default;
};

class StatusModel final : public QObject
{
    Q_OBJECT

public:
    enum class Health
    {
        Fine,
        Waiting,
        Errors,
        NotListening,
    };

    explicit StatusModel(QObject* parent = nullptr);

    const StationState& state() const { return m_state; }
    // Only the station changes it; one changed() per change that made a difference.
    template <typename Change> void change(Change&& apply)
    {
        StationState next = m_state;
        apply(next);
        if (next == m_state)
            return;
        m_state = std::move(next);
        emit changed();
    }
    // A failure worth a line of its own (refusals come with contactRefused).
    void fail(const QString& text);

    // The first panel: what is happening now.
    QString activity() const;
    QString listeningText() const;
    // Datagrams the station did not read, and where it relays them; empty when there is nothing to say.
    QString captureText() const;
    QString countsText() const;
    QString acceptedText() const;
    QString failureText() const;
    // Why contacts wait, or could not be written; empty when nothing holds them.
    QString waitingText() const;
    Health health() const;
    QString toolTip() const;

    static QString contacts(int count);

signals:
    void changed();
    void contactReceived(quint64 key, const QString& record, bool added);
    void contactAccepted(quint64 key, const QString& record);
    void contactRefused(quint64 key, const QString& record, const QString& reason);
    void contactKept(quint64 key);
    // A port asked for could not be had; said once per port.
    void bindFailed(quint16 port, const QString& reason);
    void serviceBack(int waiting);
    void failed(const QString& text);
    // Worth a desktop notification of its own.
    void notable(const QString& title, const QString& text);

private:
    StationState m_state;
};
