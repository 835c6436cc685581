#pragma once

#include "settings/Settings.h"
#include "upload/RealtimeRequest.h"

#include <QObject>

class QFileSystemWatcher;
namespace QKeychain {
class Job;
}

// The one source of the login the station uses. A person's typing is stored
// as it comes but used only once committed, so a half-typed password is never
// sent; without a window, edits of the settings file are taken instead. The
// password may live in the desktop's keyring: the settings file then holds
// Marker in its place, which counts as not set and is never sent, and the
// keyring is asked without ever waiting for its answer.
class LoginSource final : public QObject
{
    Q_OBJECT

public:
    static inline const QString Marker = QStringLiteral("(kept in the desktop keyring)");

    explicit LoginSource(const Settings& settings, QObject* parent = nullptr);

    // The stored login becomes the one in use when it differs from it.
    void load();
    // One field as typed: stored at once (a password kept in the keyring
    // only once committed), not used yet.
    void edit(const QString& key, const QString& text);
    // Used even when it cannot be stored; `retry` asks again after a refused login.
    void commit(const Credentials& login, bool retry = false);
    // Headless: the folder's settings file is read again whenever it is replaced.
    void watch(const QString& folder);

    bool inKeyring() const;
    // Moves the password into the keyring (the file keeps Marker), or back.
    void keepInKeyring(bool on);

    const Credentials& current() const { return m_login; }

signals:
    void changed(const Credentials& login, bool retry);
    // A login read from the file or the keyring, for the window's boxes.
    void loaded(const Credentials& login);
    void keyringChanged(bool inKeyring);
    void problem(const QString& text);

private:
    void use(const Credentials& login, bool retry);
    void ask(QKeychain::Job* job, const std::function<void(QKeychain::Job*)>& then);
    QString keyringKey() const;

    Settings m_settings;
    Credentials m_login;
    QStringList m_stored; // the file's three values when last read
    QFileSystemWatcher* m_watcher = nullptr;
    bool m_keyringSaid = false;
};
