#include "fake_serial_port.h"
#include "panel/panel_commands.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct CommandsTest : ::testing::Test {
    FakeSerialPort port;
    PanelCommands commands{port};
    SignPatterns patterns;

    void SetUp() override
    {
        port.open = true;
        initPatterns(patterns);
    }
};

Bytes upload(std::uint8_t command, Bytes lines)
{
    Bytes b{0xA5, 0x79, 0x5A, command};
    for (auto line : lines) b.push_back(line);
    return b;
}

// Writes of an upload: the frame, then one write per line byte.
std::vector<Bytes> uploadWrites(std::uint8_t command, const Bytes& lines)
{
    std::vector<Bytes> w{{0xA5, 0x79, 0x5A, command}};
    for (auto b : lines) w.push_back({b});
    return w;
}

std::vector<Bytes> concat(std::initializer_list<std::vector<Bytes>> parts)
{
    std::vector<Bytes> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes zeros(8, 0x00);
const Bytes crossLines{0xC3, 0xE7, 0x7E, 0x3C, 0x3C, 0x7E, 0xE7, 0xC3};
const Bytes arrowUpLines{0x00, 0x08, 0x0C, 0xFE, 0xFF, 0xFE, 0x0C, 0x08};
const Bytes chequerALines{0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC};
const Bytes chequerBLines{0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33};

struct FrameCase {
    const char* name;
    std::function<void(PanelCommands&)> action;
    std::vector<Bytes> writes;
};

TEST_F(CommandsTest, EachOperationWritesItsFramesOneWriteEach)
{
    const std::vector<FrameCase> cases{
        {"display_on", [](auto& c) { c.display_on(); }, {{0xA5, 0x79, 0x5A, 0x71}}},
        {"enter_test_mode", [](auto& c) { c.enter_test_mode(); }, {{0xA5, 0x79, 0x5A, 0x72}}},
        {"command_78", [](auto& c) { c.command_78(); }, {{0xA5, 0x79, 0x5A, 0x78}}},
        {"command_79", [](auto& c) { c.command_79(); }, {{0xA5, 0x79, 0x5A, 0x79}}},
        {"command_7a", [](auto& c) { c.command_7a(); }, {{0xA5, 0x79, 0x5A, 0x7A}}},
        {"red 25", [](auto& c) { c.set_redled_time(25); }, {{0xA5, 0x79, 0x5A, 0x75, 0xE7}}},
        {"green 175", [](auto& c) { c.set_greenled_time(175); }, {{0xA5, 0x79, 0x5A, 0x76, 0x51}}},
        {"red 256", [](auto& c) { c.set_redled_time(256); }, {{0xA5, 0x79, 0x5A, 0x75, 0x00}}},
        {"red 1", [](auto& c) { c.set_redled_time(1); }, {{0xA5, 0x79, 0x5A, 0x75, 0xFF}}},
        {"sign code 7", [](auto& c) { c.set_sign_code(7); }, {{0xA5, 0x79, 0x5A, 0x7B, 0x07}}},
        {"sign code 255", [](auto& c) { c.set_sign_code(255); }, {{0xA5, 0x79, 0x5A, 0x7B, 0xFF}}},
        {"sign code 0", [](auto& c) { c.set_sign_code(0); }, {{0xA5, 0x79, 0x5A, 0x7B, 0x00}}},
        {"preset green", [](auto& c) { c.ledTimesGreen(); },
         {{0xA5, 0x79, 0x5A, 0x75, 0x9C}, {0xA5, 0x79, 0x5A, 0x76, 0x9C}}},
        {"preset red", [](auto& c) { c.ledTimesRed(); },
         {{0xA5, 0x79, 0x5A, 0x75, 0xE7}, {0xA5, 0x79, 0x5A, 0x76, 0x51}}},
        {"preset yellow", [](auto& c) { c.ledTimesYellow(); },
         {{0xA5, 0x79, 0x5A, 0x75, 0xE2}, {0xA5, 0x79, 0x5A, 0x76, 0x56}}},
    };
    for (const auto& c : cases) {
        port.clearRecord();
        c.action(commands);
        EXPECT_EQ(port.writes, c.writes) << c.name;
    }
}

TEST_F(CommandsTest, SendPatternUploadsBothPlanesLineByLine)
{
    commands.sendPattern(patterns.patternStop);
    EXPECT_EQ(port.writes.size(), 18u);
    EXPECT_EQ(port.writes, concat({uploadWrites(0x73, crossLines), uploadWrites(0x74, zeros)}));

    port.clearRecord();
    commands.sendPattern(patterns.patternChequer2);
    EXPECT_EQ(port.wire(), [] {
        Bytes b = upload(0x73, chequerBLines);
        for (auto byte : upload(0x74, chequerALines)) b.push_back(byte);
        return b;
    }());
}

TEST_F(CommandsTest, SendPatternMonoInEachColour)
{
    const std::vector<Bytes> red{{0xA5, 0x79, 0x5A, 0x75, 0xE7}, {0xA5, 0x79, 0x5A, 0x76, 0x51}};
    const std::vector<Bytes> green{{0xA5, 0x79, 0x5A, 0x75, 0x9C}, {0xA5, 0x79, 0x5A, 0x76, 0x9C}};
    const std::vector<Bytes> yellow{{0xA5, 0x79, 0x5A, 0x75, 0xE2}, {0xA5, 0x79, 0x5A, 0x76, 0x56}};
    struct Case {
        ColourCode colour;
        std::int16_t plane;
        std::vector<Bytes> writes;
    };
    const std::vector<Case> cases{
        {colourRed, 1, concat({red, uploadWrites(0x73, arrowUpLines), uploadWrites(0x74, zeros)})},
        {colourGreen, 1, concat({green, uploadWrites(0x73, zeros), uploadWrites(0x74, arrowUpLines)})},
        {colourYellow, 1,
         concat({yellow, uploadWrites(0x73, arrowUpLines), uploadWrites(0x74, arrowUpLines)})},
        {colourRed, 0, concat({red, uploadWrites(0x73, zeros), uploadWrites(0x74, zeros)})},
        {0, 1, {}},
        {0x808080, 1, {}},
    };
    for (const auto& c : cases) {
        port.clearRecord();
        EXPECT_NO_THROW(commands.sendPatternMono(patterns.patternForward, c.colour, c.plane));
        EXPECT_EQ(port.writes, c.writes) << "colour " << c.colour << " plane " << c.plane;
    }
    // The red case of the forward arrow: 34 bytes in 20 writes.
    port.clearRecord();
    commands.sendPatternMono(patterns.patternForward, colourRed, 1);
    EXPECT_EQ(port.writes.size(), 20u);
    EXPECT_EQ(port.wire().size(), 34u);
}

TEST_F(CommandsTest, RejectedArgumentsWriteNothing)
{
    struct Case {
        const char* name;
        std::function<void(PanelCommands&)> action;
        int number;
    };
    const std::vector<Case> cases{
        {"red 0", [](auto& c) { c.set_redled_time(0); }, errnum::invalidArgument},
        {"red 257", [](auto& c) { c.set_redled_time(257); }, errnum::invalidArgument},
        {"green 0", [](auto& c) { c.set_greenled_time(0); }, errnum::invalidArgument},
        {"green 32767", [](auto& c) { c.set_greenled_time(32767); }, errnum::invalidArgument},
        {"red -32511", [](auto& c) { c.set_redled_time(-32511); }, errnum::invalidArgument},
        {"red -32512", [](auto& c) { c.set_redled_time(-32512); }, errnum::overflow},
        {"green -32768", [](auto& c) { c.set_greenled_time(-32768); }, errnum::overflow},
        {"sign -1", [](auto& c) { c.set_sign_code(-1); }, errnum::invalidArgument},
        {"sign 256", [](auto& c) { c.set_sign_code(256); }, errnum::invalidArgument},
    };
    for (const auto& c : cases) {
        port.clearRecord();
        try {
            c.action(commands);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const NumberedError& e) {
            EXPECT_EQ(e.number(), c.number) << c.name;
        }
        EXPECT_TRUE(port.writes.empty()) << c.name;
    }
}

TEST_F(CommandsTest, ALineThatIsNotAByteStopsTheUploadThere)
{
    SignPattern bad = patterns.patternStop;
    bad[3][redPlane] = 0x100;
    EXPECT_THROW(commands.sendPattern(bad), NumberedError);
    // Frame and lines 0..2 went out; nothing after.
    ASSERT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(port.writes.back(), Bytes{0x7E});
}

TEST_F(CommandsTest, AFailedWriteStopsTheOperationAtThatWrite)
{
    port.failAtWrite = port.writeCount + 6;
    EXPECT_THROW(commands.sendPattern(patterns.patternStop), NumberedError);
    EXPECT_EQ(port.writes.size(), 5u);
}

// The pictures themselves are checked dot by dot where the signs are sent and drawn.
TEST(SignPatternsTest, AllZeroUntilInitialisedAndTheSameWhenBuiltAgain)
{
    SignPatterns p;
    const SignPattern blank{};
    for (const SignPattern* s : {&p.patternStop, &p.patternForward, &p.patternRight, &p.patternLeft,
                                 &p.patternChequer1, &p.patternChequer2})
        EXPECT_EQ(*s, blank);

    initPatterns(p);
    SignPatterns again = p;
    initPatterns(again);
    for (auto member : {&SignPatterns::patternStop, &SignPatterns::patternForward, &SignPatterns::patternRight,
                        &SignPatterns::patternLeft, &SignPatterns::patternChequer1, &SignPatterns::patternChequer2})
        EXPECT_EQ(again.*member, p.*member);
    for (std::size_t line = 0; line < 8; ++line) {
        EXPECT_EQ(p.patternChequer1[line][0] + p.patternChequer1[line][1], 0xFF);
        EXPECT_EQ(p.patternChequer2[line][0], p.patternChequer1[line][1]);
    }
}

} // namespace
