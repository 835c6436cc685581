#include "upload/ServiceAddress.h"

#include <QRegularExpression>

#include <optional>

namespace {

std::optional<QUrl> readBaseUrl(const QString& text)
{
    const QString value = text.trimmed();
    if (value.isEmpty())
        return std::nullopt;

    // "host:8080" would parse as scheme "host", so only "://" marks a scheme.
    const bool hasScheme = value.contains(QLatin1String("://"));
    QUrl url(hasScheme ? value : QStringLiteral("https://") + value, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() == 0 || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return std::nullopt;
    // User information in the address would be sent, and logged, with every request.
    if (!url.userInfo().isEmpty())
        return std::nullopt;

    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path, QUrl::TolerantMode);
    return url;
}

} // namespace

ServiceBase resolveServiceBase(const QString& key, const QString& setting, const QString& builtIn)
{
    const bool given = !setting.trimmed().isEmpty();
    const QString value = (given ? setting : builtIn).trimmed();
    if (std::optional<QUrl> url = readBaseUrl(value)) {
        if (value.contains(QLatin1String("://")))
            return {*url, {}, {}};
        return {*url, {},
                QStringLiteral("%1 %2 has no scheme; https was tried and the server answered plain HTTP: write "
                               "http://%2")
                    .arg(key, value)};
    }
    // A user name and password in the address are never written out.
    QString shown = value;
    shown.replace(QRegularExpression(QStringLiteral("^([^:/]*://)?[^/@]*@")), QStringLiteral("\\1"));
    return {{},
            QStringLiteral("The %1 setting \"%2\" is not a usable address (a host name, or a URL such as "
                           "https://host:port, without a user name or password); nothing is sent until it "
                           "is corrected")
                .arg(key, shown),
            {}};
}

QUrl serviceUrl(const QUrl& base, const QString& path)
{
    if (base.isEmpty())
        return {};
    QString prefix = base.path(QUrl::FullyEncoded);
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    qsizetype skip = 0;
    while (skip < path.size() && path[skip] == QLatin1Char('/'))
        ++skip;

    QUrl url = base;
    url.setPath(prefix + QLatin1Char('/') + path.mid(skip), QUrl::TolerantMode);
    return url;
}
