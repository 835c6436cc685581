#include "settings/Settings.h"

#include "BuildInfo.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {
const QString SettingsSection = QStringLiteral("Settings");
} // namespace

QString ReadIni(const QString& Filename, const QString& section, const QString& Key)
{
    return ProfileFile::read(Filename, section, Key).left(MaxSettingLength);
}

bool WriteIni(const QString& Filename, const QString& section, const QString& Key, const QString& value)
{
    return ProfileFile::write(Filename, section, Key, value);
}

struct Settings::Shared
{
    Shared(QString settingsPath, QString debugLogPath)
        : path(std::move(settingsPath)), trace(std::move(debugLogPath))
    {
    }

    const QString path;
    const DebugTrace trace;
    QMutex mutex;
    ProfileFile::Changes pending;
    std::function<void()> request;
    bool requested = false;
};

Settings::Settings(QString settingsPath, QString debugLogPath)
    : m_shared(std::make_shared<Shared>(std::move(settingsPath), std::move(debugLogPath)))
{
}

const QString& Settings::path() const
{
    return m_shared->path;
}

const DebugTrace& Settings::trace() const
{
    return m_shared->trace;
}

QString Settings::templateText()
{
    return QStringLiteral("[Settings]\r\n"
                          "CorvaneEmailAddress=Not Set\r\n"
                          "CorvaneCallsign=Not Set\r\n"
                          "CorvanePassword=Not Set\r\n"
                          "TotalRecordsUploaded=0\r\n"
                          "AutoUploadEnabled=True\r\n"
                          "UDPPort=12060\r\n");
}

bool Settings::CheckforInIfile() const
{
    if (QFileInfo::exists(m_shared->path))
        return true;
    return ProfileFile::create(m_shared->path, templateText());
}

QString Settings::GetSettings(const QString& Key, const QString& defaultValue) const
{
    {
        QMutexLocker lock(&m_shared->mutex);
        for (auto it = m_shared->pending.crbegin(); it != m_shared->pending.crend(); ++it) {
            if (it->first.compare(Key, Qt::CaseInsensitive) == 0) {
                const QString value = it->second.trimmed().left(MaxSettingLength);
                return value.isEmpty() ? defaultValue : value;
            }
        }
    }
    const QString value = ReadIni(m_shared->path, SettingsSection, Key);
    return value.isEmpty() ? defaultValue : value;
}

QString Settings::GetLongSetting(const QString& Key) const
{
    return ProfileFile::read(m_shared->path, SettingsSection, Key);
}

bool Settings::SaveSettings(const QString& Key, const QString& Setting, bool Switch) const
{
    if (Switch)
        return m_shared->trace.write(Key, Setting);

    std::function<void()> request;
    {
        QMutexLocker lock(&m_shared->mutex);
        if (!m_shared->request)
            return WriteIni(m_shared->path, SettingsSection, Key, Setting);
        // One entry per key, at its first place: the file ends up exactly as
        // if every change had been written in turn.
        bool replaced = false;
        for (auto& [key, value] : m_shared->pending) {
            if (key == Key) {
                value = Setting;
                replaced = true;
            }
        }
        if (!replaced)
            m_shared->pending.append({Key, Setting});
        if (!m_shared->requested) {
            m_shared->requested = true;
            request = m_shared->request;
        }
    }
    if (request)
        request();
    return true;
}

void Settings::setWriteRequest(std::function<void()> request) const
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->request = std::move(request);
    m_shared->requested = false;
}

bool Settings::writePending(QString* error) const
{
    ProfileFile::Changes changes;
    {
        QMutexLocker lock(&m_shared->mutex);
        changes.swap(m_shared->pending);
        m_shared->requested = false;
    }
    if (changes.isEmpty())
        return true;
    if (ProfileFile::write(m_shared->path, SettingsSection, changes, error))
        return true;

    // Kept for the next try, behind nothing: changes queued meanwhile are newer.
    QMutexLocker lock(&m_shared->mutex);
    for (auto it = changes.crbegin(); it != changes.crend(); ++it) {
        const bool newer = std::any_of(m_shared->pending.cbegin(), m_shared->pending.cend(),
                                       [&](const auto& change) { return change.first == it->first; });
        if (!newer)
            m_shared->pending.prepend(*it);
    }
    return false;
}

bool Settings::hasPending() const
{
    QMutexLocker lock(&m_shared->mutex);
    return !m_shared->pending.isEmpty();
}

QString versionText()
{
    return QStringLiteral(" %1.%2.%3").arg(BuildInfo::VersionMajor).arg(BuildInfo::VersionMinor).arg(BuildInfo::VersionRevision);
}
