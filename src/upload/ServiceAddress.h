#pragma once

#include <QString>
#include <QUrl>

// Where a web service lives, from an optional settings value: a bare host name
// ("www.corvane.com") means HTTPS on the default port, so credentials never
// travel in clear by default; a value with a scheme ("http://127.0.0.1:8080")
// is taken as the base URL. An empty value means `builtIn`, read by the same
// rules. A value that is set but not usable is never replaced by a guess:
// the credentials would go to a host the user did not name.
struct ServiceBase
{
    QUrl url;        // empty when the setting is not usable
    QString problem; // what is wrong with the setting, for the status bar and the error log
    // For a host given without a scheme: what to say when https meets a server that speaks plain HTTP.
    QString plainHttpHint;
};
ServiceBase resolveServiceBase(const QString& key, const QString& setting, const QString& builtIn);

// `base` as resolveServiceBase() gives it (no slash at the end of its path),
// with `path` ("/realtime.php") appended to its path; empty for an empty base.
QUrl serviceUrl(const QUrl& base, const QString& path);
