// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/single_instance.h"

#include "platform/private_folder.h"

#include <QCoreApplication>

QStringList SingleInstance::defaultLockPaths()
{
    // A lock in a folder others may write to could be made by another user first, and the
    // program would then refuse to start for a copy that is not there.
    const PrivateFolder folder = privateFolder();
    if (folder.path.isEmpty()) return {};
    return {folder.path + QStringLiteral("/painel-sinaletico.lock")};
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
