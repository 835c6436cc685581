#include "upload/UpdateChecker.h"

#include "upload/HttpClient.h"
#include "upload/ServiceAddress.h"

#include <QList>
#include <QRegularExpression>

#include <optional>

namespace {

// Up to four fields of at most nine digits: no overflow, and no "v1.0",
// "1.0-beta" or page of HTML passes for a version.
std::optional<QList<quint32>> versionFields(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,3}$"));
    const QString trimmed = text.trimmed();
    if (!form.match(trimmed).hasMatch())
        return std::nullopt;
    QList<quint32> fields;
    for (const QString& field : trimmed.split(QLatin1Char('.')))
        fields.append(field.toUInt());
    return fields;
}

} // namespace

std::partial_ordering compareVersions(const QString& available, const QString& running)
{
    const std::optional<QList<quint32>> left = versionFields(available);
    const std::optional<QList<quint32>> right = versionFields(running);
    if (!left || !right)
        return std::partial_ordering::unordered;
    const qsizetype count = std::max(left->size(), right->size());
    for (qsizetype i = 0; i < count; ++i) {
        const quint32 a = i < left->size() ? left->at(i) : 0;
        const quint32 b = i < right->size() ? right->at(i) : 0;
        if (a != b)
            return a < b ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    return std::partial_ordering::equivalent;
}

UpdateChecker::UpdateChecker(HttpClient& http, QObject* parent) : QObject(parent), m_http(http) {}

UpdateChecker::~UpdateChecker()
{
    if (m_request)
        m_http.abort(m_request);
}

QUrl UpdateChecker::versionFileUrl(const QUrl& updateBase)
{
    return serviceUrl(updateBase, QStringLiteral("/files/TarvexVer.txt"));
}

QUrl UpdateChecker::archiveUrl(const QUrl& updateBase)
{
    return serviceUrl(updateBase, QStringLiteral("/files/TarvexUpdate.zip"));
}

bool UpdateChecker::check(const QUrl& updateBase, const QString& runningVersion)
{
    if (isRunning())
        return false;
    m_running = runningVersion;
    HttpRequest request;
    request.url = versionFileUrl(updateBase);
    request.post = false;
    // A cached copy could hide a release made since.
    request.headers = {"Cache-Control: no-cache"};
    request.timeout = m_timeout;
    request.bodyLimit = ReplyLimit + 1;
    request.peer = QStringLiteral("the update host");
    m_request = m_http.start(request, [this](const HttpResult& reply) { complete(reply); });
    return true;
}

void UpdateChecker::complete(const HttpResult& reply)
{
    m_request = 0;
    UpdateCheckResult result;
    QByteArray body = reply.body;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    const QString text = QString::fromUtf8(body).trimmed();

    if (reply.failure != HttpResult::Failure::None) {
        result.failure = reply.failureText;
    } else if (reply.body.size() > ReplyLimit) {
        result.failure = QStringLiteral("The version file is too long to be a version");
    } else if (reply.status < 200 || reply.status > 299) {
        result.failure = QStringLiteral("HTTP status %1 for the version file").arg(reply.status);
    } else {
        const std::partial_ordering order = compareVersions(text, m_running);
        if (order == std::partial_ordering::unordered) {
            result.failure = QStringLiteral("The version file holds no version: \"%1\"").arg(text.left(40));
        } else {
            result.available = text;
            result.verdict = order > 0 ? UpdateVerdict::Newer : UpdateVerdict::NotNewer;
        }
    }
    emit finished(result);
}
