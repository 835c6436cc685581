#pragma once

#include <QString>
#include <QUrl>

// Where a web service lives, from an optional settings value: a bare host name
// ("www.corvane.com") means HTTPS on the default port, so credentials never
// travel in clear by default; a value with a scheme ("http://127.0.0.1:8080")
// is taken as the base URL. An empty or unusable value falls back to `builtIn`,
// read by the same rules.
QUrl serviceBaseUrl(const QString& setting, const QString& builtIn);

// The base URL with `path` ("/realtime.php") appended to its path.
QUrl serviceUrl(const QUrl& base, const QString& path);
