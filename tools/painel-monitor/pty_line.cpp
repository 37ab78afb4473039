// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_line.h"

#include "serial/port_devices.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void nonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

} // namespace

RawPty openRawPty()
{
    // 9600 8N1 only so that a sender looking at the line sees the panel's settings.
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    RawPty pty;
    char name[256] = {};
    if (::openpty(&pty.master, &pty.slave, name, &raw, nullptr) != 0) throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    pty.slavePath = name;
    // Programs started later must not inherit either end of the panel's line.
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    return pty;
}

PtyLine::PtyLine(QObject* parent) : QObject(parent)
{
    const RawPty pty = openRawPty();
    master_ = pty.master;
    slaveKeeper_ = pty.slave;
    slavePath_ = QString::fromStdString(pty.slavePath);
    // The slave descriptor is never read: holding it keeps the master alive while no sender
    // has the device open, so senders may open and close it as often as they like.
    nonBlocking(master_);
    nonBlocking(slaveKeeper_);

    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyLine::readAvailable);
    releaseCheck_ = new QTimer(this);
    connect(releaseCheck_, &QTimer::timeout, this, &PtyLine::releaseAbandonedExclusion);
    releaseCheck_->start(releaseCheckMs);
}

void PtyLine::releaseAbandonedExclusion()
{
    int exclusive = 0;
    if (::ioctl(slaveKeeper_, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    // A sender that has the line open now holds it rightly; only one that is gone is cleared.
    if (!processesUsing(slavePath_).empty()) return;
    ::ioctl(slaveKeeper_, TIOCNXCL);
}

QString PtyLine::processBoundPath() const { return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(slaveKeeper_); }

void PtyLine::send(const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(master_, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n > 0) done += n;
        // A sender that reads nothing back lets its input fill: what does not fit is lost, as
        // on a real line.
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
}

PtyLine::~PtyLine()
{
    delete notifier_;
    ::close(slaveKeeper_);
    ::close(master_);
}

void PtyLine::readAvailable()
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN: drained
    }
    if (!bytes.isEmpty()) emit received(bytes);
}
