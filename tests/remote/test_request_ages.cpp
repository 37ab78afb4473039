// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/request_age.h"

#include <gtest/gtest.h>

namespace {

// How late a request comes is told against the quickest way of the last minutes, on two clocks
// that nobody sets and that may be any distance apart; each control room's run has its own, and
// with nothing recent from it nothing is judged.
TEST(RequestAges, AHeldUpRequestIsToldFromAFreshOneWhateverTheClocks)
{
    RequestAges ages;
    constexpr std::int64_t far = 1'000'000'000; // the control room's clock against ours
    EXPECT_EQ(ages.delay("c", far, 1000), std::nullopt);
    ages.sample("c", far, 5'008);
    ages.sample("c", far + 1'000, 6'003); // 5 ms quicker: the way at its quickest
    ages.sample("c", far + 1'500, 6'540);
    for (const auto& [sent, now, late] : std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>>{
             {far + 2'000, 7'003, 0}, {far + 2'000, 7'050, 47}, {far + 2'000, 17'003, 10'000}, {far + 2'000, 6'000, 0}})
        EXPECT_EQ(ages.delay("c", sent, now), late) << now;
    EXPECT_EQ(ages.delay("d", far, 7'003), std::nullopt);
    // The quickest way of the window only: what was quicker long ago no longer counts.
    const std::int64_t later = 6'540 + RequestAges::windowMs + 1;
    EXPECT_EQ(ages.delay("c", far, later), std::nullopt);
    ages.sample("c", far + 100'000, later);
    EXPECT_EQ(ages.delay("c", far + 100'000, later + 20), 20);
    // A new run's clock makes room by dropping the one heard from longest ago.
    for (std::size_t i = 0; i < RequestAges::maxClocks; ++i) ages.sample("k" + std::to_string(i), 0, later + 1 + std::int64_t(i));
    EXPECT_EQ(ages.delay("c", far + 100'000, later + 20), std::nullopt);
    EXPECT_EQ(ages.delay("k0", 0, later + 1), 0);
}

} // namespace
