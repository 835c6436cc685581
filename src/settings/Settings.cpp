#include "settings/Settings.h"

#include "settings/ProfileFile.h"

#include <QFileInfo>

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

Settings::Settings(QString settingsPath, QString debugLogPath)
    : m_path(std::move(settingsPath)), m_trace(std::move(debugLogPath))
{
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
    if (QFileInfo::exists(m_path))
        return true;
    return ProfileFile::create(m_path, templateText());
}

QString Settings::GetSettings(const QString& Key, const QString& defaultValue) const
{
    const QString value = ReadIni(m_path, SettingsSection, Key);
    return value.isEmpty() ? defaultValue : value;
}

bool Settings::SaveSettings(const QString& Key, const QString& Setting, bool Switch) const
{
    if (Switch)
        return m_trace.write(Key, Setting);
    return WriteIni(m_path, SettingsSection, Key, Setting);
}
