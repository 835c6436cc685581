#pragma once

#include <QLockFile>
#include <QString>

// One Tarvex per data folder: two would listen on one port and write the
// same files. A lock left by a copy that crashed does not count (the process
// it names is gone).
class InstanceLock final
{
public:
    explicit InstanceLock(const QString& path);

    // True when this copy holds the lock now. Otherwise `holder` says which
    // process holds it; a folder the lock cannot be made in is not stopped
    // here (`problem` says why), as everything else will say so too.
    bool acquire(QString* holder = nullptr, QString* problem = nullptr);

    // What the program says and the exit status it ends with when another
    // copy holds the lock.
    static QString alreadyRunning(const QString& folder, const QString& holder);
    static constexpr int AlreadyRunningExitCode = 3;

private:
    QLockFile m_lock;
};
