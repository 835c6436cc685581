#pragma once

#include "upload/RealtimeUploader.h"

#include <QDateTime>
#include <QObject>
#include <QString>

class ContactCapture;
class ContactPipeline;
class DiskKeeper;

// What Tarvex is doing, gathered for whoever shows it: the window's status
// bar, the tray icon and its tool tip, the notifications, the headless log.
// Counts are for this session.
class StationStatus final : public QObject
{
    Q_OBJECT

public:
    enum class Health
    {
        Fine,        // listening, nothing held up
        Waiting,     // contacts wait for the service, the login or the address
        Errors,      // something went to the error log, or contacts could not be written
        NotListening,
    };

    explicit StationStatus(QObject* parent = nullptr);

    // Follows the working parts' signals (the capture's arrive queued).
    void attach(ContactCapture* capture, ContactPipeline& pipeline, RealtimeUploader& uploader,
                DiskKeeper* keeper);

    void setListening(quint16 port);
    void setNotListening(quint16 port, const QString& reason);
    void setHold(UploadHold hold, int waiting, const QString& reason, const QDateTime& nextTry);
    void countAccepted();
    void countRefused(const QString& reason);
    void countKept();
    void setHeld(int count, const QString& reason);
    // A line worth keeping in view: the last failure, an unusable setting.
    void setFailure(const QString& line);
    // The error indicator runs (something was written to the error log and
    // the operator has not turned to the window since).
    void setAttention(bool on);

    bool isListening() const { return m_listening; }
    quint16 port() const { return m_port; }
    int accepted() const { return m_accepted; }
    int waiting() const { return m_waiting; }
    int refused() const { return m_refused; }
    int kept() const { return m_kept; }
    int held() const { return m_held; }
    UploadHold hold() const { return m_hold; }

    QString listeningText() const;
    QString countsText() const;
    // Why contacts wait, or could not be written; empty when nothing holds them.
    QString waitingText() const;
    QString failureText() const { return m_failure; }
    Health health() const;
    QString toolTip() const;

signals:
    void changed();
    // Listening came back after a failure to bind.
    void listeningAgain(quint16 port);

private:
    void update(bool changedNow);

    bool m_listening = false;
    bool m_everFailed = false;
    quint16 m_port = 0;
    QString m_notListeningReason;
    UploadHold m_hold = UploadHold::None;
    QString m_holdReason;
    QDateTime m_nextTry;
    int m_waiting = 0;
    int m_accepted = 0;
    int m_refused = 0;
    int m_kept = 0;
    int m_held = 0;
    QString m_heldReason;
    QString m_failure;
    bool m_attention = false;
};
