#include "settings/LoginSource.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <qt6keychain/keychain.h>

namespace {
const QString NotSet = QStringLiteral("Not Set");
const QString Service = QStringLiteral("Tarvex");
} // namespace

LoginSource::LoginSource(const Settings& settings, QObject* parent) : QObject(parent), m_settings(settings) {}

QString LoginSource::keyringKey() const
{
    // One entry per data folder.
    return QStringLiteral("Corvane password for %1").arg(QFileInfo(m_settings.path()).absolutePath());
}

bool LoginSource::inKeyring() const
{
    return m_settings.GetSettings(SettingKey::Password, NotSet) == Marker;
}

void LoginSource::ask(QKeychain::Job* job, const std::function<void(QKeychain::Job*)>& then)
{
    // The job deletes itself once the keyring answered, even if this source
    // is gone by then: deleting a job under way crashes inside the library.
    job->setKey(keyringKey());
    connect(job, &QKeychain::Job::finished, this, [this, then](QKeychain::Job* done) {
        if (done->error() != QKeychain::NoError && done->error() != QKeychain::EntryNotFound &&
            !m_keyringSaid) {
            m_keyringSaid = true;
            emit problem(tr("The desktop keyring did not answer (%1); contacts wait for the Corvane password")
                             .arg(done->errorString()));
        }
        then(done);
    });
    job->start();
}

void LoginSource::load()
{
    const QStringList stored{m_settings.GetSettings(SettingKey::EmailAddress, NotSet),
                             m_settings.GetSettings(SettingKey::Password, NotSet),
                             m_settings.GetSettings(SettingKey::Callsign, NotSet)};
    if (stored == m_stored)
        return;
    m_stored = stored;
    Credentials login{stored[0], stored[1], stored[2]};
    if (login.password == Marker) {
        login.password = NotSet;
        ask(new QKeychain::ReadPasswordJob(Service), [this, login](QKeychain::Job* job) mutable {
            if (job->error() == QKeychain::NoError)
                login.password = static_cast<QKeychain::ReadPasswordJob*>(job)->textData();
            use(login, false);
            emit loaded(login);
        });
    }
    use(login, false);
    emit loaded(login);
}

void LoginSource::edit(const QString& key, const QString& text)
{
    if (key != SettingKey::Password || !inKeyring())
        m_settings.SaveSettings(key, text, false);
}

void LoginSource::commit(const Credentials& login, bool retry)
{
    // "Not Set" is what a box shows before the keyring answered, never a password.
    if (inKeyring() && login.password != m_login.password && login.password != NotSet) {
        auto* job = new QKeychain::WritePasswordJob(Service);
        job->setTextData(login.password);
        ask(job, [](QKeychain::Job*) {});
    }
    use(login, retry);
}

void LoginSource::use(const Credentials& login, bool retry)
{
    if (login == m_login && !retry)
        return;
    m_login = login;
    emit changed(m_login, retry);
}

void LoginSource::keepInKeyring(bool on)
{
    if (on == inKeyring())
        return;
    if (!on) {
        m_settings.SaveSettings(SettingKey::Password, m_login.password, false);
        ask(new QKeychain::DeletePasswordJob(Service), [](QKeychain::Job*) {});
        emit keyringChanged(false);
        return;
    }
    // The file lets go of the password only once the keyring holds it.
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setTextData(m_login.password);
    ask(job, [this](QKeychain::Job* done) {
        if (done->error() != QKeychain::NoError)
            return;
        m_settings.SaveSettings(SettingKey::Password, Marker, false);
        emit keyringChanged(true);
    });
}

void LoginSource::watch(const QString& folder)
{
    // Tarvex replaces the file by a rename at every save, which ends a watch
    // on the file itself; an editor may also write it in place, which the
    // folder's watch does not see. So both, the file's renewed at each change.
    m_watcher = new QFileSystemWatcher({folder, m_settings.path()}, this);
    const auto reread = [this] {
        if (!m_watcher->files().contains(m_settings.path()))
            m_watcher->addPath(m_settings.path());
        load();
    };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, reread);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, reread);
}
