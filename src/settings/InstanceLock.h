#pragma once

#include <QString>

// One Tarvex per data folder: two would listen on one port and write the
// same files. Whether a live process holds an advisory lock on the file
// decides, never what the file says: a lock left by a copy that crashed, an
// empty file or garbage does not stop a start. The file names its holder
// for the message of a copy that is turned away.
class InstanceLock final
{
public:
    explicit InstanceLock(QString path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this copy holds the lock now. Otherwise `holder` says which
    // process holds it. `note` is something to say once: a stale lock was
    // taken over, or no lock can be made in the folder (not stopped here, as
    // everything else will say so too).
    bool acquire(QString* holder = nullptr, QString* note = nullptr);

    // What the program says and the exit status it ends with when another
    // copy holds the lock.
    static QString alreadyRunning(const QString& folder, const QString& holder);
    static constexpr int AlreadyRunningExitCode = 3;

private:
    QString m_path;
    int m_fd = -1;
};
