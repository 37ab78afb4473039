// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QStringList SingleInstance::defaultLockPaths()
{
#ifdef Q_OS_UNIX
    QStringList paths;
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) paths << runtime + QStringLiteral("/painel-sinaletico.lock");
    // The temporary folder is shared: the user id in the name keeps the lock the user's own.
    paths << QDir::tempPath() + QStringLiteral("/painel-sinaletico-%1.lock").arg(::getuid());
    return paths;
#else
    // Windows gives every user a temporary folder of their own.
    return {QDir::tempPath() + QStringLiteral("/painel-sinaletico.lock")};
#endif
}

bool SingleInstance::acquire()
{
    for (const QString& path : paths_) {
        auto lock = std::make_unique<QLockFile>(path);
        // Held for the whole run: age alone never makes it stale, only a dead owner does.
        lock->setStaleLockTime(0);
        bool taken = lock->tryLock(0);
        qint64 holder = 0;
        QString host, app;
        // A lock left by a copy whose process id is now this one's (Wine numbers its processes
        // afresh at each start, Windows and containers reuse them) names a dead holder, yet
        // QLockFile finds that process alive and running this very program. The places are this
        // computer's own folders, so the lock's host needs no comparing.
        if (!taken && lock->error() == QLockFile::LockFailedError && lock->getLockInfo(&holder, &host, &app) && holder == QCoreApplication::applicationPid()
            && lock->removeStaleLockFile())
            taken = lock->tryLock(0);
        if (taken) {
            lock_ = std::move(lock);
            return true;
        }
        if (lock->error() == QLockFile::LockFailedError) return false;
    }
    // No lock can be written anywhere, which says nothing about another copy; refusing to start
    // would leave the panel without its program.
    return true;
}
