#pragma once

#include "outbox/Outbox.h"
#include "settings/Settings.h"

#include <QObject>

#include <chrono>

class DiskKeeper;
class QTimer;
class RealtimeUploader;
struct CaptureBatch;
struct UploadContact;
struct UploadResult;

// The road of a contact once the capture thread has made it durable: it is
// handed to the uploader, and the service's verdict is counted, or the
// contact is reported and moved to the not-uploaded file. Everything that
// goes to the error log and the count goes through here; the window and the
// other watchers only follow the signals.
class ContactPipeline final : public QObject
{
    Q_OBJECT

public:
    ContactPipeline(const Settings& settings, RealtimeUploader& uploader, DiskKeeper* keeper,
                    QObject* parent = nullptr);

    // A change of the count is stored at once, unless another was stored less
    // than this long ago: then the latest count follows when the time is up
    // (or on closing).
    static constexpr std::chrono::milliseconds CountStoreInterval{1000};

    // Sets the count shown at start-up; nothing is stored.
    void setUploadedCount(qint32 count) { m_uploadedCount = count; }
    qint32 uploadedCount() const { return m_uploadedCount; }
    // Back to zero, stored at once.
    void resetUploadedCount();
    // Closing: a count not yet stored is stored.
    void storeCountNow();

    // Closing: the keeper goes before the pipeline does.
    void setKeeper(DiskKeeper* keeper) { m_keeper = keeper; }

    // Contacts an earlier run left in the outbox, sent before any new one.
    void resume(const QList<Outbox::Entry>& waiting);
    void handleBatch(const CaptureBatch& batch);

    const QString& lastDatagram() const { return m_lastDatagram; }

signals:
    // The latest datagram's text; a burst announces only its last.
    void datagramShown(const QString& text);
    void statusChanged(const QString& text);
    void uploadedCountChanged(qint32 count);
    // Something went to the error log: show the error menu, start the indicator.
    void errorReported();

    void contactReceived(quint64 key, const QString& record, bool added);
    void contactAccepted(quint64 key, const QString& record);
    void contactRefused(quint64 key, const QString& record, const QString& reason);
    void contactKept(quint64 key);
    void datagramUnreadable(const QString& reason);

private:
    void onFinished(const UploadResult& result);
    void setCount(qint32 count);
    void storeCount();

    void report(const QString& title, const QString& text);

    Settings m_settings;
    RealtimeUploader& m_uploader;
    DiskKeeper* m_keeper;
    QString m_lastDatagram;
    qint32 m_uploadedCount = 0;
    QTimer* m_countStore = nullptr;
    bool m_countPending = false;
};

namespace StatusText {
inline const QString Uploading = QStringLiteral("Uploading Data to Corvane");
inline const QString UploadComplete = QStringLiteral("Uploading Data Complete.");
inline const QString UploadRejected = QStringLiteral("Uploading Data Returned Error's");
} // namespace StatusText

namespace ErrorTitle {
inline const QString ServiceError = QStringLiteral("Corvane Error Message Returned");
inline const QString Unreachable = QStringLiteral("Corvane could not be reached");
inline const QString LoginRefused = QStringLiteral("Corvane refused the login");
inline const QString UnreadableDatagram = QStringLiteral("Contact datagram could not be read");
} // namespace ErrorTitle

// The first line of a text, for status lines and notifications.
QString firstLine(const QString& text);
