#include "app/single_instance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString& lockPath) : lock_(lockPath)
{
    // Held for the whole run: age alone never makes it stale, only a dead owner does.
    lock_.setStaleLockTime(0);
}

QString SingleInstance::defaultLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder + QStringLiteral("/painel-sinaletico.lock");
}

bool SingleInstance::acquire()
{
    if (lock_.tryLock(0)) return true;
    // A lock that cannot even be written (a read-only runtime folder) says nothing about
    // another copy; refusing to start would leave the panel without its program.
    return lock_.error() != QLockFile::LockFailedError;
}
