// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLockFile>
#include <QStringList>

#include <memory>

// One copy per user. The lock is a file holding the owner's process id, so a copy that was
// killed or crashed leaves a lock that the next copy recognises as stale and takes over. The
// places are tried in turn: one where no lock can be written (a read-only folder) gives way to
// the next, so the rule holds there too.
class SingleInstance {
public:
    explicit SingleInstance(QStringList lockPaths = defaultLockPaths()) : paths_(std::move(lockPaths)) {}

    // False only when another live copy holds the lock.
    [[nodiscard]] bool acquire();

    // In the folder only this user may write to (privateFolder()); none when there is no such folder.
    [[nodiscard]] static QStringList defaultLockPaths();

private:
    QStringList paths_;
    std::unique_ptr<QLockFile> lock_;
};
