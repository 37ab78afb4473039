#pragma once

#include <QLockFile>
#include <QString>

// One copy per user. The lock is a file holding the owner's process id, so a copy that was
// killed or crashed leaves a lock that the next copy recognises as stale and takes over.
class SingleInstance {
public:
    explicit SingleInstance(const QString& lockPath = defaultLockPath());

    // False only when another live copy holds the lock.
    [[nodiscard]] bool acquire();

    [[nodiscard]] static QString defaultLockPath();

private:
    QLockFile lock_;
};
