#pragma once

#include "upload/RealtimeRequest.h"

#include <QByteArray>
#include <QString>

#include <optional>

class HttpClient;
class HttpFileUpload;
class QObject;
class Settings;

// The steps of a manual upload that the window and `tarvex --upload` share,
// so both send the same request and judge and keep files alike.
namespace AdifFileUpload {

// Why the file cannot be sent: it cannot be read, or (unless `force`) it
// holds no ADIF record, no <EOR> in any letter case.
std::optional<QString> problemWith(const QString& path, bool force);
bool holdsRecords(const QByteArray& bytes);

// The multipart POST of the file to /putlogs.php with the login, to the
// service the settings name; null, with `problem` said, when they name none.
// Not started yet; its SaveLog writes into `logFolder`.
HttpFileUpload* make(HttpClient& http, const Settings& settings, const QString& logFolder,
                     const Credentials& login, const QString& path, QString* problem, QObject* parent);

// After finished(): the service's reply as text; what to write into the error
// log for an upload that did not get a 200 (the exchange is saved too when the
// service answered); the one line that says why.
QString replyText(const HttpFileUpload& upload);
QString errorReport(const HttpFileUpload& upload);
QString failure(const HttpFileUpload& upload);

enum class Removal
{
    Deleted,
    Grew,
    Changed,
    Failed
};

// Deletes the file only while it holds exactly the bytes sent: it is moved
// aside first, so a contact appended meanwhile lands in a new file or makes
// the comparison fail, and is moved back then; nothing appended is lost.
Removal removeIfUnchanged(const QString& path, const QByteArray& sent, QString* error);

} // namespace AdifFileUpload
