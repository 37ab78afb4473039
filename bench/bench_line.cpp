// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench_line.h"

#include "serial/port_devices.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>

#include <poll.h>
#include <unistd.h>

Spread spreadOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

BenchLine::BenchLine(bool asCom1)
{
    if (asCom1) {
        qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit());
        QDir().mkpath(configFolder());
        QFile::link(QString::fromStdString(pty_.slavePath()), configFolder() + "/com1");
    }
    reader_ = std::thread([this] {
        // One read per wake-up, stamped at once: the stamp is when those bytes were on the line.
        pollfd pfd{pty_.masterFd(), POLLIN, 0};
        char buffer[4096];
        while (!stop_) {
            if (paused_ ? ::poll(nullptr, 0, 5) >= 0 : ::poll(&pfd, 1, 5) <= 0) continue;
            const ssize_t n = ::read(pty_.masterFd(), buffer, sizeof buffer);
            if (n <= 0) continue;
            const double at = now();
            if (echo_) (void)!::write(pty_.masterFd(), buffer, std::size_t(n));
            const std::lock_guard lock(mutex_);
            reads_.emplace_back(at, received_ += std::size_t(n));
        }
    });
}

BenchLine::~BenchLine()
{
    stop_ = true;
    reader_.join();
}

std::vector<double> BenchLine::timesReaching(const std::vector<std::size_t>& marks) const
{
    const std::lock_guard lock(mutex_);
    std::vector<double> times;
    for (const std::size_t mark : marks) {
        const auto read = std::find_if(reads_.begin(), reads_.end(), [mark](const auto& r) { return r.second >= mark; });
        if (read != reads_.end()) times.push_back(read->first);
    }
    return times;
}
