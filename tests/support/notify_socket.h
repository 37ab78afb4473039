// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The service manager's end of NOTIFY_SOCKET: what the post tells systemd, a datagram a message.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;
    [[nodiscard]] bool bound() const { return bound_; }
    // The next message within `timeoutMs`, or empty.
    [[nodiscard]] std::string next(int timeoutMs) const
    {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) return {};
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
    }
    // Messages until `wanted` arrives or `timeoutMs` passes with none; those before it included.
    [[nodiscard]] std::vector<std::string> until(const std::string& wanted, int timeoutMs) const
    {
        std::vector<std::string> seen;
        for (std::string m = next(timeoutMs); !m.empty(); m = next(timeoutMs)) {
            seen.push_back(m);
            if (m.find(wanted) != std::string::npos) break;
        }
        return seen;
    }

private:
    int fd_;
    bool bound_ = false;
};
