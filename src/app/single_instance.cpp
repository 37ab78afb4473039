// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <QDir>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QStringList SingleInstance::defaultLockPaths()
{
    QStringList paths;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) paths << runtime + QStringLiteral("/painel-sinaletico.lock");
#ifdef Q_OS_UNIX
    // The temporary folder is shared: the user id in the name keeps the lock the user's own.
    paths << QDir::tempPath() + QStringLiteral("/painel-sinaletico-%1.lock").arg(::getuid());
#else
    paths << QDir::tempPath() + QStringLiteral("/painel-sinaletico.lock");
#endif
    return paths;
}

bool SingleInstance::acquire()
{
    for (const QString& path : paths_) {
        auto lock = std::make_unique<QLockFile>(path);
        // Held for the whole run: age alone never makes it stale, only a dead owner does.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            lock_ = std::move(lock);
            return true;
        }
        if (lock->error() == QLockFile::LockFailedError) {
            QString host, app;
            if (!lock->getLockInfo(&holder_, &host, &app)) holder_ = 0;
            return false;
        }
    }
    // No lock can be written anywhere, which says nothing about another copy; refusing to start
    // would leave the panel without its program.
    return true;
}
