#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal standing in for the panel: the program writes to the slave device, the
// test reads what reached the line from the master. Raw and 9600 8N1, like the panel's line.
// Holding a slave descriptor keeps the master readable across the program's opens and closes.
class PtyPair {
public:
    PtyPair()
    {
        termios raw{};
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B9600);
        raw.c_cflag |= CLOCAL | CREAD;
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
        // Programs a test starts must not inherit the panel's end of the line.
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        slavePath_ = name;
    }
    ~PtyPair() { hangUp(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }
    [[nodiscard]] int slaveFd() const { return slave_; }
    [[nodiscard]] int masterFd() const { return master_; }
    // Reads until `count` bytes have arrived or `timeoutMs` passed with nothing new.
    [[nodiscard]] std::vector<std::uint8_t> read(std::size_t count, int timeoutMs = 2000) const
    {
        std::vector<std::uint8_t> data;
        pollfd pfd{master_, POLLIN, 0};
        std::uint8_t buffer[512];
        while (data.size() < count && ::poll(&pfd, 1, timeoutMs) > 0) {
            const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - data.size()));
            if (n <= 0) break;
            data.insert(data.end(), buffer, buffer + n);
        }
        return data;
    }
    [[nodiscard]] std::vector<std::uint8_t> readAvailable() const { return read(SIZE_MAX, 0); }
    // The other end goes away, as a pulled-out adapter would.
    void hangUp()
    {
        for (int* fd : {&slave_, &master_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
