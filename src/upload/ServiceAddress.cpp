#include "upload/ServiceAddress.h"

#include <QRegularExpression>

ServiceBase resolveServiceBase(const QString& key, const QString& setting, const QString& builtIn)
{
    const QString value = (setting.trimmed().isEmpty() ? builtIn : setting).trimmed();
    // "host:8080" would parse as scheme "host", so only "://" marks a scheme.
    const bool hasScheme = value.contains(QLatin1String("://"));
    QUrl url(hasScheme ? value : QStringLiteral("https://") + value, QUrl::StrictMode);
    // User information in the address would be sent, and logged, with every request.
    if (url.isValid() && !url.host().isEmpty() && url.port() != 0 && !url.hasQuery() && !url.hasFragment() &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
        url.userInfo().isEmpty()) {
        QString path = url.path(QUrl::FullyEncoded);
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        url.setPath(path, QUrl::TolerantMode);
        if (hasScheme)
            return {url, {}, {}};
        return {
            url,
            {},
            QStringLiteral("%1 %2 has no scheme; https was tried and the server answered plain HTTP: write "
                           "http://%2")
                .arg(key, value)};
    }
    // A user name and password in the address are never written out: the
    // user-info ends at the last "@" of the authority (a password may hold
    // one), and the password is masked wherever else it stands.
    static const QRegularExpression userInfo(QStringLiteral("^([^:/]*://)?([^/]*)@"));
    QString shown = value;
    if (const QRegularExpressionMatch found = userInfo.match(value); found.hasMatch()) {
        shown = found.captured(1) + value.mid(found.capturedEnd());
        if (const QString password = found.captured(2).section(QLatin1Char(':'), 1); !password.isEmpty())
            shown.replace(password, QStringLiteral("********"));
    }
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
    QUrl url = base;
    url.setPath(base.path(QUrl::FullyEncoded) + path, QUrl::TolerantMode);
    return url;
}
