// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/request_age.h"

#include <algorithm>

void RequestAges::sample(const std::string& clock, std::int64_t sentMs, std::int64_t receivedMs)
{
    if (clocks_.count(clock) == 0 && clocks_.size() >= maxClocks) {
        // The clock heard from longest ago makes room: a control room restarted has a new name.
        const auto oldest = std::min_element(clocks_.begin(), clocks_.end(), [](const auto& a, const auto& b) { return a.second.lastMs < b.second.lastMs; });
        clocks_.erase(oldest);
    }
    Clock& c = clocks_[clock];
    c.lastMs = receivedMs;
    const std::int64_t offset = receivedMs - sentMs;
    // A sample with a larger offset than a newer one can never be the window's smallest again.
    while (!c.samples.empty() && c.samples.back().offset >= offset) c.samples.pop_back();
    c.samples.push_back({receivedMs, offset});
    while (c.samples.front().receivedMs < receivedMs - windowMs) c.samples.pop_front();
}

std::optional<std::int64_t> RequestAges::delay(const std::string& clock, std::int64_t sentMs, std::int64_t nowMs) const
{
    const auto found = clocks_.find(clock);
    if (found == clocks_.end()) return std::nullopt;
    for (const Sample& s : found->second.samples)
        if (s.receivedMs >= nowMs - windowMs) return std::max<std::int64_t>(0, nowMs - sentMs - s.offset);
    return std::nullopt;
}
