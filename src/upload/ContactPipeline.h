#pragma once

#include "capture/AdifRecord.h"
#include "logs/ErrorLog.h"
#include "logs/NonUploadedQsosLog.h"
#include "upload/RealtimeRequest.h"

#include <QObject>

#include <chrono>

class QTimer;
class RealtimeUploader;
class Settings;
struct RealtimeResult;

// The road of one contact: its datagram is shown and traced, converted into
// CurrentRecord and, with automatic upload on, handed to the uploader; the
// service's verdict is counted, or the contact is reported and kept in the
// not-uploaded file. The window only shows what the signals say.
class ContactPipeline final : public QObject
{
    Q_OBJECT

public:
    ContactPipeline(const Settings& settings, const QString& errorLogPath, const QString& nonUploadedPath,
                    RealtimeUploader& uploader, QObject* parent = nullptr);

    // A change of the count is stored at once, unless another was stored less
    // than this long ago: then the latest count follows when the time is up
    // (or on closing), so a burst of accepted contacts does not cost the
    // window one synchronous disk write each.
    static constexpr std::chrono::milliseconds CountStoreInterval{1000};

    // The text boxes' current credentials; each upload captures them when it starts.
    void setCredentials(const Credentials& credentials) { m_credentials = credentials; }
    const Credentials& credentials() const { return m_credentials; }

    void setAutoUpload(bool on) { m_autoUpload = on; }
    bool autoUpload() const { return m_autoUpload; }

    // Sets the count shown at start-up; nothing is stored.
    void setUploadedCount(qint32 count) { m_uploadedCount = count; }
    qint32 uploadedCount() const { return m_uploadedCount; }
    // Back to zero, stored at once.
    void resetUploadedCount();

    void handleDatagram(const QByteArray& datagram);
    void UploadRealtime();

    // Contacts still waiting for the service go to the not-uploaded file, and
    // a count not yet stored is stored, so closing the program loses none.
    // Returns how many contacts could not be written.
    int keepUnfinished();

    const AdifRecord& CurrentRecord() const { return m_record; }

signals:
    void datagramShown(const QString& text);
    void statusChanged(const QString& text);
    void uploadedCountChanged(qint32 count);
    // Something went to the error log: show the error menu, start the indicator.
    void errorReported();

private:
    void onUploadFinished(const RealtimeResult& result);
    void keepRecord(const QString& record);
    void setCount(qint32 count);
    void storeCount();

    const Settings& m_settings;
    ErrorLog m_errorLog;
    NonUploadedQsosLog m_nonUploaded;
    RealtimeUploader& m_uploader;
    AdifRecord m_record;
    Credentials m_credentials;
    bool m_autoUpload = false;
    qint32 m_uploadedCount = 0;
    QTimer* m_countStore = nullptr;
    bool m_countPending = false;
};

namespace StatusText {
inline const QString Uploading = QStringLiteral("Uploading Data to Corvane");
inline const QString UploadComplete = QStringLiteral("Uploading Data Complete.");
inline const QString UploadRejected = QStringLiteral("Uploading Data Returned Error's");
} // namespace StatusText

inline const QString ServiceErrorTitle = QStringLiteral("Corvane Error Message Returned");
