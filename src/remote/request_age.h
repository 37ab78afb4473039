// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

// How late a control room's request reaches this post, on no wall clock at all: every request
// and every tick of the control room's clock carries the time it was sent on the control room's
// monotonic clock, which this post reads against its own monotonic clock. Their difference is the
// clocks' offset plus the way's delay; its smallest value over the last minutes is the offset plus
// the quickest way, and anything above that is how long a message was held up: by a post frozen or
// busy, or a network that kept it. Neither clock is ever set by anybody, so a post whose calendar
// clock is wrong by hours still takes a fresh request at once. Each run of a control room has its
// clock's own name; the first message from one can only be taken as fresh.
class RequestAges {
public:
    // The quickest way is looked for over this long: long enough to hold many ticks, short enough
    // that the clocks' drift (a few parts in ten thousand at worst) stays in milliseconds.
    static constexpr std::int64_t windowMs = 10 * 60 * 1000;
    static constexpr std::size_t maxClocks = 8;

    // Control room `clock` sent something at `sentMs` on its clock, which arrived here at
    // `receivedMs` on ours.
    void sample(const std::string& clock, std::int64_t sentMs, std::int64_t receivedMs);
    // How much longer than the quickest way a message sent at `sentMs` has taken by `nowMs`;
    // nullopt when nothing recent was heard from that clock.
    [[nodiscard]] std::optional<std::int64_t> delay(const std::string& clock, std::int64_t sentMs, std::int64_t nowMs) const;

private:
    struct Sample {
        std::int64_t receivedMs;
        std::int64_t offset;
    };
    struct Clock {
        // Ascending offsets, oldest first: the front is the window's smallest.
        std::deque<Sample> samples;
        std::int64_t lastMs = 0;
    };
    std::map<std::string, Clock> clocks_;
};
