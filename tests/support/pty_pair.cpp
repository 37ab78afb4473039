#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

PtyPair::PtyPair()
{
    char name[256] = {};
    // Raw, so every byte passes untouched; 9600 8N1 like the panel's own line.
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master_, &slaveKeeper_, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Programs started by a test or a benchmark must not inherit the panel's end of the line.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveKeeper_, F_SETFD, FD_CLOEXEC);
    slavePath_ = name;
    // Holding one slave descriptor open ourselves keeps the master readable across the
    // program's own opens and closes of the device.
}

PtyPair::~PtyPair()
{
    if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
    if (master_ >= 0) ::close(master_);
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, int timeoutMs)
{
    std::vector<std::uint8_t> data;
    while (data.size() < count) {
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) break;
        std::uint8_t buf[512];
        const auto n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        data.insert(data.end(), buf, buf + n);
    }
    return data;
}

std::vector<std::uint8_t> PtyPair::readAvailable()
{
    return read(SIZE_MAX, 0);
}

void PtyPair::hangUp()
{
    if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
    slaveKeeper_ = -1;
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}
