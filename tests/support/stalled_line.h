// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// A line whose far end has stopped reading: the device's buffer is full once it is made, and a
// thread keeps it full while it lives, filling it again whenever a flush makes room.
class StuckFarEnd {
public:
    explicit StuckFarEnd(const std::string& device) : fd_(::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY))
    {
        // The kernel moves what was written on towards the reader for a while after the first
        // refusal: full means no room for 20 ms.
        for (pollfd room{fd_, POLLOUT, 0}; room.revents = 0, fill(), ::poll(&room, 1, 20) > 0;) {}
        filler_ = std::thread([this] {
            for (pollfd room{fd_, POLLOUT, 0}; !resumed_; ::poll(&room, 1, 5)) fill();
        });
    }
    ~StuckFarEnd()
    {
        resumed_ = true;
        filler_.join();
        ::close(fd_);
    }
    StuckFarEnd(const StuckFarEnd&) = delete;
    StuckFarEnd& operator=(const StuckFarEnd&) = delete;

private:
    void fill() const
    {
        const char junk[1024] = {};
        while (::write(fd_, junk, sizeof junk) > 0) {}
    }

    int fd_;
    std::atomic<bool> resumed_{false};
    std::thread filler_;
};

// How late the event loop runs a 10 ms probe: in all (ms beyond the 10), and the longest gap.
struct EventLoopProbe {
    QElapsedTimer clock;
    qint64 last = 0, blocked = 0, longest = 0;
    QTimer probe;

    EventLoopProbe()
    {
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [this] {
            const qint64 gap = clock.elapsed() - std::exchange(last, clock.elapsed());
            blocked += std::max<qint64>(0, gap - 10);
            longest = std::max(longest, gap);
        });
        clock.start();
        probe.start(10);
    }
};
