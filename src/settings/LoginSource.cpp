#include "settings/LoginSource.h"

#include <QFileSystemWatcher>

LoginSource::LoginSource(const Settings& settings, QObject* parent) : QObject(parent), m_settings(settings) {}

void LoginSource::load()
{
    const QString notSet = QStringLiteral("Not Set");
    commit({m_settings.GetSettings(SettingKey::EmailAddress, notSet),
            m_settings.GetSettings(SettingKey::Password, notSet),
            m_settings.GetSettings(SettingKey::Callsign, notSet)});
}

void LoginSource::edit(const QString& key, const QString& text)
{
    m_settings.SaveSettings(key, text, false);
}

void LoginSource::commit(const Credentials& login, bool retry)
{
    if (login == m_login && !retry)
        return;
    m_login = login;
    emit changed(m_login, retry);
}

void LoginSource::watch(const QString& folder)
{
    // The file is replaced by a rename at every save, which ends a watch on
    // the file itself; the folder's watch sees every save.
    m_watcher = new QFileSystemWatcher({folder}, this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &LoginSource::load);
}
