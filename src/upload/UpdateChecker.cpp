#include "upload/UpdateChecker.h"

#include "upload/HttpTexts.h"
#include "upload/ServiceAddress.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

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

UpdateChecker::UpdateChecker(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network)
{
}

UpdateChecker::~UpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
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
    m_body.clear();
    m_tooLong = false;
    m_timedOut = false;

    QNetworkRequest request(versionFileUrl(updateBase));
    // A cached copy could hide a release made since.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &UpdateChecker::take);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::complete);

    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, [this] {
            m_timedOut = true;
            if (m_reply)
                m_reply->abort(); // emits finished(), which completes the check
        });
    }
    m_timer->start(m_timeout);
    return true;
}

void UpdateChecker::take()
{
    m_body += m_reply->read(ReplyLimit + 1 - m_body.size());
    if (m_body.size() > ReplyLimit && !m_tooLong) {
        m_tooLong = true;
        m_reply->abort();
    }
}

void UpdateChecker::complete()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_timer->stop();
    if (!m_tooLong && reply->isOpen())
        m_body += reply->read(ReplyLimit + 1 - m_body.size());
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;

    UpdateCheckResult result;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QByteArray body = m_body;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    const QString text = QString::fromUtf8(body).trimmed();

    if (m_timedOut) {
        result.failure =
            QStringLiteral("No answer from the update host within %1").arg(HttpTexts::duration(m_timeout));
    } else if (m_tooLong || m_body.size() > ReplyLimit) {
        result.failure = QStringLiteral("The version file is too long to be a version");
    } else if (reply->error() != QNetworkReply::NoError) {
        result.failure =
            QStringLiteral("The version file could not be fetched: %1").arg(reply->errorString());
    } else if (status < 200 || status > 299) {
        result.failure = QStringLiteral("HTTP status %1 for the version file").arg(status);
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
