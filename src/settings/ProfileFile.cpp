#include "settings/ProfileFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>

namespace {

constexpr QLatin1String CrLf("\r\n");

// A profile file is small; anything larger than this is not ours and is left alone.
constexpr qint64 MaxFileSize = 4 * 1024 * 1024;

struct Line
{
    enum Kind
    {
        Other,
        Section,
        Entry
    };
    Kind kind = Other;
    QStringView name;  // section or key name, trimmed
    QStringView value; // entry value, trimmed
};

Line classify(QStringView line)
{
    const QStringView trimmed = line.trimmed();
    if (trimmed.startsWith(QLatin1Char('['))) {
        const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
        return {Line::Section, trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed(), {}};
    }
    if (trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
        return {};
    const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return {};
    return {Line::Entry, trimmed.left(equals).trimmed(), trimmed.mid(equals + 1).trimmed()};
}

QList<QStringView> splitLines(QStringView text)
{
    QList<QStringView> lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QStringView& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A line break inside a value would end the line early and let the rest pass
// for keys or sections of its own.
QString singleLine(QStringView value)
{
    return value.toString().remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
}

bool readText(const QString& path, QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileSize)
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return true;
}

} // namespace

namespace ProfileFile {

QString value(QStringView fileText, QStringView section, QStringView key)
{
    bool inSection = false;
    for (QStringView text : splitLines(fileText)) {
        const Line line = classify(text);
        if (line.kind == Line::Section) {
            if (inSection)
                return {};
            inSection = sameName(line.name, section);
        } else if (inSection && line.kind == Line::Entry && sameName(line.name, key)) {
            return line.value.toString();
        }
    }
    return {};
}

QString withValue(QStringView fileText, QStringView section, QStringView key, QStringView newValue)
{
    const QList<QStringView> lines = splitLines(fileText);
    const QString entry = key.toString() + QLatin1Char('=') + singleLine(newValue);

    qsizetype sectionAt = -1;
    qsizetype lastContentInSection = -1;
    qsizetype replaceAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line line = classify(lines[i]);
        if (line.kind == Line::Section) {
            if (sectionAt >= 0)
                break;
            if (sameName(line.name, section)) {
                sectionAt = i;
                lastContentInSection = i;
            }
        } else if (sectionAt >= 0) {
            if (!lines[i].trimmed().isEmpty())
                lastContentInSection = i;
            if (line.kind == Line::Entry && sameName(line.name, key)) {
                replaceAt = i;
                break;
            }
        }
    }

    QString result;
    result.reserve(fileText.size() + entry.size() + section.size() + 8);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        result += (i == replaceAt) ? QStringView(entry) : lines[i];
        result += CrLf;
        if (replaceAt < 0 && i == lastContentInSection) {
            result += entry;
            result += CrLf;
        }
    }
    if (sectionAt < 0)
        result += QStringLiteral("[%1]\r\n%2\r\n").arg(section, entry);
    return result;
}

QString read(const QString& path, QStringView section, QStringView key)
{
    QString text;
    if (!readText(path, text))
        return {};
    return value(text, section, key);
}

bool write(const QString& path, QStringView section, const Changes& changes, QString* error)
{
    const QFileInfo info(path);
    QString text;
    if (info.exists()) {
        // A read-only file stays as it is. Renaming over it would succeed, and
        // so would root's write, hence the look at the owner's write bit.
        const bool readOnly = !info.isWritable() || !(info.permissions() & QFileDevice::WriteOwner);
        if (!info.isFile() || readOnly || !readText(path, text)) {
            if (error)
                *error = !info.isFile() ? QStringLiteral("it is not a file")
                         : readOnly     ? QStringLiteral("it is read-only")
                                        : QStringLiteral("it cannot be read");
            return false;
        }
    }
    for (const auto& [key, value] : changes)
        text = withValue(text, section, key, value);
    return create(path, text, error);
}

bool create(const QString& path, const QString& text, QString* error)
{
    QSaveFile file(path);
    const auto failed = [&] {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = text.toUtf8();
    // commit() alone can rename a short file over a good one when the disk
    // is full, so every step is checked before it.
    const bool written =
        file.write(bytes) == bytes.size() && file.flush() && file.error() == QFileDevice::NoError;
    if (!written || !file.commit())
        return failed();
    return true;
}

} // namespace ProfileFile
