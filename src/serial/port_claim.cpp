// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_claim.h"

#ifdef Q_OS_UNIX
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The file that stands for `device`: its links followed, so that /dev/serial/by-id/… and the
// /dev/ttyUSB0 it names are one port.
QString claimFile(const QString& device)
{
    QString canonical = QFileInfo(device).canonicalFilePath();
    if (canonical.isEmpty()) canonical = device;
    return QStringLiteral("/run/lock/painel-sinaletico") + canonical.replace(QLatin1Char('/'), QLatin1Char('_')) + QStringLiteral(".lock");
}

// The claim files this process holds: it is their holder, and no other process can be.
std::mutex heldMutex;
std::set<QString> held;

QString processText(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed()) : QString();
    return QStringLiteral("%1 (processo %2)").arg(name.isEmpty() ? QStringLiteral("um programa") : name).arg(pid);
}
} // namespace

std::optional<QString> PortClaim::claim(const QString& device)
{
    release();
    const QString file = claimFile(device);
    const QByteArray name = QFile::encodeName(file);
    // Read-only is enough for flock(), and lets a file another user made serve all the same.
    const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return std::nullopt;
    (void)::fchmod(fd, 0644); // past the umask, when the file is ours
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return holderOf(device).value_or(QStringLiteral("outro programa"));
    }
    fd_ = fd;
    file_ = file;
    const std::lock_guard lock(heldMutex);
    held.insert(file_);
    return std::nullopt;
}

void PortClaim::release()
{
    if (fd_ < 0) return;
    {
        const std::lock_guard lock(heldMutex);
        held.erase(file_);
    }
    ::close(fd_);
    fd_ = -1;
}

std::optional<QString> PortClaim::holderOf(const QString& device)
{
    // Asked before every open: the answer is quick unless another process holds the port.
    const QString file = claimFile(device);
    {
        const std::lock_guard lock(heldMutex);
        if (held.count(file) != 0) return std::nullopt;
    }
    const int probe = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (probe < 0) return std::nullopt;
    const bool free = ::flock(probe, LOCK_SH | LOCK_NB) == 0;
    struct stat st {};
    const bool known = ::fstat(probe, &st) == 0;
    ::close(probe);
    if (free || !known) return std::nullopt;
    // /proc/locks: "1: FLOCK  ADVISORY  WRITE 812 08:02:131 0 EOF"; a waiter's line has "->".
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray inode = ':' + QByteArray::number(quint64(st.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK" || !fields[5].endsWith(inode)) continue;
        const qint64 pid = fields[4].toLongLong();
        if (pid > 0 && pid != ::getpid()) return processText(pid);
    }
    return std::nullopt;
}
#else
std::optional<QString> PortClaim::claim(const QString&) { return std::nullopt; }
void PortClaim::release() {}
std::optional<QString> PortClaim::holderOf(const QString&) { return std::nullopt; }
#endif
