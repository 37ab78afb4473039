#include "panel/frame_decoder.h"
#include "panel/panel_commands.h"
#include "fake_serial_port.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

using Kind = WireEvent::Kind;

Bytes fromHex(const std::string& hex)
{
    Bytes bytes;
    std::istringstream in(hex);
    for (std::string pair; in >> pair;)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16)));
    return bytes;
}

struct Expected {
    Kind kind;
    std::string hex;
    std::string meaning;
    bool showsMatrix = false;
};

// Every command in the table, with line bytes that look like a prefix, noise before, between
// and after the frames, and an unknown command. The stream is these bytes back to back.
const std::vector<Expected> everything{
    {Kind::StrayBytes, "01 02 03", "stray bytes"},
    {Kind::Frame, "A5 79 5A 74 A5 79 5A 00 FF 80 01 7E", "green plane"},  // display still off
    {Kind::Frame, "A5 79 5A 71", "display_on", true},
    {Kind::Frame, "A5 79 5A 72", "enter_test_mode"},
    {Kind::Frame, "A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3", "red plane"},
    {Kind::Frame, "A5 79 5A 74 00 00 00 00 00 00 00 00", "green plane", true},
    {Kind::Frame, "A5 79 5A 75 E7", "set_redled_time 25"},
    {Kind::Frame, "A5 79 5A 75 00", "set_redled_time 256"},
    {Kind::Frame, "A5 79 5A 76 51", "set_greenled_time 175"},
    {Kind::Frame, "A5 79 5A 76 FF", "set_greenled_time 1"},
    {Kind::UnknownCommand, "A5 79 5A 77", "unknown command 77"},
    {Kind::Frame, "A5 79 5A 78", "command_78"},
    {Kind::Frame, "A5 79 5A 79", "command_79"},
    {Kind::Frame, "A5 79 5A 7A", "command_7a"},
    {Kind::StrayBytes, "A5", "stray byte"},
    {Kind::Frame, "A5 79 5A 7B 07", "set_sign_code 7"},
    {Kind::StrayBytes, "A5 79", "stray bytes"},
    {Kind::StrayBytes, "A5 79 5A", "stray bytes"},  // a prefix that never got its command
    {Kind::Frame, "A5 79 5A 7B A5", "set_sign_code 165"},
    {Kind::UnknownCommand, "A5 79 5A 00", "unknown command 00"},
    {Kind::StrayBytes, "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF", "stray bytes"},
    {Kind::StrayBytes, "5A A5 79", "stray bytes"},  // held back until the silence
};

Bytes streamOf(const std::vector<Expected>& events)
{
    Bytes all;
    for (const auto& e : events) {
        const Bytes b = fromHex(e.hex);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

std::string describe(Kind kind, const std::string& hex, const std::string& meaning, bool showsMatrix)
{
    return std::to_string(static_cast<int>(kind)) + " | " + hex + " | " + meaning
           + (showsMatrix ? " | matrix" : "");
}

void expectEvents(const std::vector<WireEvent>& got, const std::string& how)
{
    std::vector<std::string> want;
    for (const auto& e : everything) want.push_back(describe(e.kind, e.hex, e.meaning, e.showsMatrix));
    std::vector<std::string> seen;
    for (const auto& e : got)
        seen.push_back(describe(e.kind, hexBytes(e.bytes), e.meaning, !e.matrix.empty()));
    EXPECT_EQ(seen, want) << how;
}

std::vector<WireEvent> decodeInChunks(const Bytes& stream, const std::vector<std::size_t>& cuts)
{
    FrameDecoder decoder;
    std::vector<WireEvent> events;
    std::size_t from = 0;
    auto take = [&events](std::vector<WireEvent> more) {
        events.insert(events.end(), more.begin(), more.end());
    };
    for (const std::size_t cut : cuts) {
        take(decoder.feed(std::span(stream).subspan(from, cut - from)));
        from = cut;
    }
    take(decoder.feed(std::span(stream).subspan(from)));
    take(decoder.flush());
    return events;
}

TEST(FrameDecoderTest, DecodesEveryCommandStrayBytesAndUnknownCommandsWhateverTheReads)
{
    const Bytes stream = streamOf(everything);
    expectEvents(decodeInChunks(stream, {}), "in one read");

    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    expectEvents(decodeInChunks(stream, everyByte), "byte by byte");

    for (std::size_t cut = 1; cut < stream.size(); ++cut)
        expectEvents(decodeInChunks(stream, {cut}), "cut at " + std::to_string(cut));
}

TEST(FrameDecoderTest, AFrameCutShortIsReportedAndTheNextFrameDecodesAfresh)
{
    FrameDecoder decoder;
    EXPECT_TRUE(decoder.feed(fromHex("A5 79 5A 73 FF FF")).empty());
    const auto cut = decoder.flush();
    ASSERT_EQ(cut.size(), 1U);
    EXPECT_EQ(cut[0].kind, Kind::IncompleteFrame);
    EXPECT_EQ(hexBytes(cut[0].bytes), "A5 79 5A 73 FF FF");
    EXPECT_EQ(cut[0].meaning, "incomplete red plane");

    const auto next = decoder.feed(fromHex("A5 79 5A 71"));
    ASSERT_EQ(next.size(), 1U);
    EXPECT_EQ(next[0].meaning, "display_on");
    // The cut-off upload left the planes as they were.
    EXPECT_EQ(next[0].matrix, std::vector<std::string>(8, ". . . . . . . ."));
}

struct Picture {
    const char* sign;
    std::function<const SignPattern&(const SignPatterns&)> pattern;
    std::vector<std::string> rows;
};

TEST(FrameDecoderTest, MatrixShowsEachSignAsItsPicture)
{
    // Asymmetric pictures as well as the X, so that a mirrored or turned matrix shows.
    const std::vector<Picture> pictures{
        {"Parar", [](const SignPatterns& p) -> const SignPattern& { return p.patternStop; },
         {"R R . . . . R R", "R R R . . R R R", ". R R R R R R .", ". . R R R R . .",
          ". . R R R R . .", ". R R R R R R .", "R R R . . R R R", "R R . . . . R R"}},
        {"Frente", [](const SignPatterns& p) -> const SignPattern& { return p.patternForward; },
         {". . . G . . . .", ". . G G G . . .", ". G G G G G . .", "G G G G G G G .",
          ". . G G G . . .", ". . G G G . . .", ". . G G G . . .", ". . G G G . . ."}},
        {"Direita", [](const SignPatterns& p) -> const SignPattern& { return p.patternRight; },
         {". . . . . . . .", ". . . . Y . . .", ". . . . Y Y . .", "Y Y Y Y Y Y Y .",
          "Y Y Y Y Y Y Y Y", "Y Y Y Y Y Y Y .", ". . . . Y Y . .", ". . . . Y . . ."}},
        {"Xadrez", [](const SignPatterns& p) -> const SignPattern& { return p.patternChequer1; },
         {"G G R R G G R R", "G G R R G G R R", "R R G G R R G G", "R R G G R R G G",
          "G G R R G G R R", "G G R R G G R R", "R R G G R R G G", "R R G G R R G G"}},
    };
    SignPatterns patterns;
    initPatterns(patterns);
    FrameDecoder decoder;
    bool first = true;
    for (const auto& picture : pictures) {
        FakeSerialPort port;
        port.open = true;
        PanelCommands commands(port);
        commands.ledTimesRed();
        commands.sendPattern(picture.pattern(patterns));
        commands.set_sign_code(1);
        commands.display_on();

        std::vector<std::vector<std::string>> shown;
        for (const auto& event : decoder.feed(port.wire()))
            if (!event.matrix.empty()) shown.push_back(event.matrix);
        // The display comes on with the first sign; after that the green upload already shows.
        ASSERT_EQ(shown.size(), first ? 1U : 2U) << picture.sign;
        for (const auto& rows : shown) EXPECT_EQ(rows, picture.rows) << picture.sign;
        first = false;
    }
}

} // namespace
