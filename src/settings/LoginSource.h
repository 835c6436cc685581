#pragma once

#include "settings/Settings.h"
#include "upload/RealtimeRequest.h"

#include <QObject>

class QFileSystemWatcher;

// The one source of the login the station uses. A person's typing is stored
// as it comes but used only once committed, so a half-typed password is never
// sent; without a window, edits of the settings file are taken instead.
class LoginSource final : public QObject
{
    Q_OBJECT

public:
    explicit LoginSource(const Settings& settings, QObject* parent = nullptr);

    // The stored login becomes the one in use when it differs from it.
    void load();
    // One field as typed: stored at once, not used yet.
    void edit(const QString& key, const QString& text);
    // Used even when it cannot be stored; `retry` asks again after a refused login.
    void commit(const Credentials& login, bool retry = false);
    // Headless: the folder's settings file is read again whenever it is replaced.
    void watch(const QString& folder);

    const Credentials& current() const { return m_login; }

signals:
    void changed(const Credentials& login, bool retry);

private:
    Settings m_settings;
    Credentials m_login;
    QFileSystemWatcher* m_watcher = nullptr;
};
