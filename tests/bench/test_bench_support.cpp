// The pieces the benchmarks take their figures from: a wrong tick stamp or a child that does not
// see its environment would give plausible numbers that mean nothing.
#include "bench_support.h"
#include "tick_stamper.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes redPlane{0xA5, 0x79, 0x5A, 0x73, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33};
const Bytes greenPlane{0xA5, 0x79, 0x5A, 0x74, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC};

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Chunk at(Clock::time_point t0, int ms, Bytes bytes) { return {t0 + std::chrono::milliseconds(ms), std::move(bytes)}; }

TEST(TickStamper, StampsEachTickWhenItsLastByteArrivesHoweverTheReadsCutIt)
{
    const auto t0 = Clock::now();
    const Bytes tick = join({redPlane, greenPlane});
    TickStamper stamper;
    stamper.take(at(t0, 0, Bytes(tick.begin(), tick.begin() + 17)));
    stamper.take(at(t0, 1, Bytes(tick.begin() + 17, tick.end())));
    stamper.take(at(t0, 251, tick));
    stamper.take(at(t0, 500, Bytes(tick.begin(), tick.begin() + 2)));
    stamper.take(at(t0, 503, Bytes(tick.begin() + 2, tick.end())));

    const Cadence& c = stamper.cadence();
    EXPECT_EQ(c.ticks, 3U);
    ASSERT_EQ(c.periods.size(), 2U);
    EXPECT_DOUBLE_EQ(c.periods[0], 250.0);
    EXPECT_DOUBLE_EQ(c.periods[1], 252.0);
    EXPECT_EQ(c.bytes, 3 * TickStamper::tickBytes);
    EXPECT_EQ(c.badTicks, 0U);
}

TEST(TickStamper, CountsTicksThatAreNotExactlyTheTwoPlanes)
{
    const auto t0 = Clock::now();
    TickStamper stamper;
    const Bytes signCode{0xA5, 0x79, 0x5A, 0x7B, 0x07};
    stamper.take(at(t0, 0, join({redPlane, signCode, greenPlane})));
    stamper.take(at(t0, 250, join({{0x00}, redPlane, greenPlane})));
    stamper.take(at(t0, 500, join({redPlane, greenPlane})));
    EXPECT_EQ(stamper.cadence().ticks, 3U);
    // The stray byte counts once as noise and once for the tick it lengthened.
    EXPECT_EQ(stamper.cadence().badTicks, 3U);
}

TEST(BenchProcesses, AChildRunsInTheScratchHomeAndReachesTheLineThroughCom1)
{
    BenchLine line;
    ScratchHome home(line.device(), "COM=1\r\n");
    const std::string script = R"sh(cd "$HOME" && test -d "$XDG_RUNTIME_DIR" \
        && test "$(cat "$XDG_CONFIG_HOME/painel-sinaletico/pref.vyr")" = "$(printf 'COM=1\r')" \
        && printf q > "$XDG_CONFIG_HOME/painel-sinaletico/com1"; exit 3)sh";
    const auto started = Clock::now();
    Child child({"sh", "-c", script}, home.environment());
    const auto chunk = line.next(started + std::chrono::seconds(10));
    ASSERT_TRUE(chunk.has_value()) << "nothing reached the line";
    EXPECT_EQ(chunk->bytes, Bytes{'q'});
    EXPECT_GE(chunk->at, started);
    EXPECT_EQ(child.wait(10000), 3);
    EXPECT_EQ(child.ending(), "exit code 3");
    EXPECT_FALSE(child.running());
}

TEST(BenchProcesses, CapturesWhatACommandPrintsAndNothingWhenItFails)
{
    EXPECT_EQ(captureOutput({"sh", "-c", "echo \"$BENCH_GREETING\""}, {{"BENCH_GREETING", "olá"}}), "olá\n");
    EXPECT_EQ(captureOutput({"sh", "-c", "echo partial; exit 1"}, {}), "");
    EXPECT_EQ(captureOutput({"painel-no-such-command"}, {}), "");
}

TEST(BenchFigures, MedianOfOddAndEvenCountsInAnyOrder)
{
    EXPECT_DOUBLE_EQ(median({3, 1, 2}), 2);
    EXPECT_DOUBLE_EQ(median({4, 1, 3, 2}), 2.5);
}

} // namespace
