// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

// At most `count` events in any window of `window`, however the window is placed: unlike a
// token bucket, which lets a full bucket and its refill through in one second.
class SlidingWindowLimit {
public:
    using Clock = std::chrono::steady_clock;

    SlidingWindowLimit(std::size_t count, Clock::duration window) : count_(count), window_(window) {}

    // Whether one more event may happen at `now`; it is counted when it may.
    [[nodiscard]] bool admit(Clock::time_point now = Clock::now())
    {
        while (!times_.empty() && now - times_.front() >= window_) times_.pop_front();
        if (times_.size() >= count_) return false;
        times_.push_back(now);
        return true;
    }

private:
    std::size_t count_;
    Clock::duration window_;
    std::deque<Clock::time_point> times_;
};
