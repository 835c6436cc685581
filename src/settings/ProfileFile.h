#pragma once

#include <QString>
#include <QStringView>

#include <utility>

// A small INI ("profile") file layer with the rules Tarvex relies on: section
// and key names match without regard to letter case, blanks around names and
// values are ignored, every line it does not change is kept as it was, a new
// key goes to the end of its section and a new section to the end of the
// file, lines end in CR LF. Nothing is cached: each call reads the file.
namespace ProfileFile {

// Value of `key` in `section` of the file's text; empty when absent.
QString value(QStringView fileText, QStringView section, QStringView key);

// The file's text with `key` set to `value` in `section`.
QString withValue(QStringView fileText, QStringView section, QStringView key, QStringView value);

QString read(const QString& path, QStringView section, QStringView key);

using Changes = QList<std::pair<QString, QString>>;

// Sets each key in turn and replaces the file atomically (a temporary file
// beside it, renamed over it) once the whole new text is written and
// flushed, so a crash or a full disk never leaves it cut short or empty. The
// file is left readable by its owner only: it holds a password. Returns
// false, leaving the old file as it was, when the file is read-only or any
// step fails; `error` then says why.
bool write(const QString& path, QStringView section, const Changes& changes, QString* error = nullptr);

// Writes a whole new file with owner-only permissions; false when that fails.
bool create(const QString& path, const QString& text, QString* error = nullptr);

} // namespace ProfileFile
