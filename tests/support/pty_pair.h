// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pty_line.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <poll.h>
#include <unistd.h>

// A pseudo-terminal standing in for the panel, raw like the monitor's: the program writes to
// the slave device, the test reads what reached the line from the master, with a deadline.
// Holding a slave descriptor keeps the master readable across the program's opens and closes.
class PtyPair {
public:
    PtyPair() : pty_(openRawPty()) {}
    ~PtyPair() { hangUp(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] const std::string& slavePath() const { return pty_.slavePath; }
    [[nodiscard]] int slaveFd() const { return pty_.slave; }
    [[nodiscard]] int masterFd() const { return pty_.master; }
    // Reads until `count` bytes have arrived or `timeoutMs` passed with nothing new.
    [[nodiscard]] std::vector<std::uint8_t> read(std::size_t count, int timeoutMs = 2000) const
    {
        std::vector<std::uint8_t> data;
        pollfd pfd{pty_.master, POLLIN, 0};
        std::uint8_t buffer[512];
        while (data.size() < count && ::poll(&pfd, 1, timeoutMs) > 0) {
            const ssize_t n = ::read(pty_.master, buffer, std::min(sizeof buffer, count - data.size()));
            if (n <= 0) break;
            data.insert(data.end(), buffer, buffer + n);
        }
        return data;
    }
    [[nodiscard]] std::vector<std::uint8_t> readAvailable() const { return read(SIZE_MAX, 0); }
    // The other end goes away, as a pulled-out adapter would.
    void hangUp()
    {
        for (int* fd : {&pty_.slave, &pty_.master}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

private:
    RawPty pty_;
};
