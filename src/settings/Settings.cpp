#include "settings/Settings.h"

#include "BuildInfo.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace {

const QString SettingsSection = QStringLiteral("Settings");

// The queued change of `key`; there is one at most.
ProfileFile::Changes::iterator changeOf(ProfileFile::Changes& changes, const QString& key)
{
    return std::find_if(changes.begin(), changes.end(),
                        [&](const auto& change) { return change.first == key; });
}

} // namespace

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
    const QString value = ProfileFile::read(m_shared->path, SettingsSection, Key).left(MaxSettingLength);
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
            return ProfileFile::write(m_shared->path, SettingsSection, {{Key, Setting}});
        // One entry per key, at its first place: the file ends up exactly as
        // if every change had been written in turn.
        const auto queued = changeOf(m_shared->pending, Key);
        if (queued != m_shared->pending.end())
            queued->second = Setting;
        else
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
        if (changeOf(m_shared->pending, it->first) == m_shared->pending.end())
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
    return QStringLiteral(" %1.%2.%3")
        .arg(BuildInfo::VersionMajor)
        .arg(BuildInfo::VersionMinor)
        .arg(BuildInfo::VersionRevision);
}
