#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master_, &slaveKeeper_, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    // Programs a test starts must not inherit the panel's end of the line. Holding a slave
    // descriptor keeps the master readable across the program's opens and closes.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveKeeper_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, int timeoutMs) const
{
    std::vector<std::uint8_t> data;
    pollfd pfd{master_, POLLIN, 0};
    std::uint8_t buf[512];
    while (data.size() < count && ::poll(&pfd, 1, timeoutMs) > 0) {
        const auto n = ::read(master_, buf, std::min(sizeof buf, count - data.size()));
        if (n <= 0) break;
        data.insert(data.end(), buf, buf + n);
    }
    return data;
}

void PtyPair::hangUp()
{
    for (int* fd : {&slaveKeeper_, &master_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}
