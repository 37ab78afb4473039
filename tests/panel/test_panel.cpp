// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "panel/echo_check.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"
#include "panel/port_settings.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// What every sign sends is checked frame by frame where the signs are sent; these are the
// commands and arguments no sign uses.
TEST(PanelCommands, CommandsAtTheEdgesOfTheirArgumentsAndRejectedOnesWriteNothing)
{
    FakeSerialPort port;
    port.open = true;
    PanelCommands c(port);
    // The first lines of "Parar"'s red plane; the upload stops at the fourth.
    SignPattern pattern{};
    pattern[0][redPlane] = 0xC3;
    pattern[1][redPlane] = 0xE7;
    pattern[2][redPlane] = 0x7E;
    for (const auto command : {&PanelCommands::enter_test_mode, &PanelCommands::command_78, &PanelCommands::command_79, &PanelCommands::command_7a}) (c.*command)();
    c.set_redled_time(256);
    c.set_greenled_time(1);
    c.set_sign_code(0);
    c.set_sign_code(255);
    EXPECT_EQ(port.sent(), "A5 79 5A 72 A5 79 5A 78 A5 79 5A 79 A5 79 5A 7A A5 79 5A 75 00 A5 79 5A 76 FF "
                           "A5 79 5A 7B 00 A5 79 5A 7B FF");
    SignPattern notBytes = pattern;
    notBytes[3][redPlane] = 0x100;
    const std::vector<std::pair<std::function<void()>, std::optional<LineError>>> rejected{
        {[&] { c.set_redled_time(0); }, LineError::InvalidArgument},
        {[&] { c.set_redled_time(257); }, LineError::InvalidArgument},
        {[&] { c.set_greenled_time(-32511); }, LineError::InvalidArgument},
        {[&] { c.set_greenled_time(-32512); }, LineError::Overflow},
        {[&] { c.set_sign_code(-1); }, LineError::InvalidArgument},
        {[&] { c.set_sign_code(256); }, LineError::InvalidArgument},
        {[&] { c.sendPatternMono(pattern, colourRed, 2); }, LineError::SubscriptOutOfRange},
        {[&] { c.sendPatternMono(pattern, 0x808080, 0); }, std::nullopt},
        // A line that is not a byte stops the upload there.
        {[&] { c.sendPattern(notBytes); }, LineError::InvalidArgument},
    };
    for (std::size_t i = 0; i < rejected.size(); ++i) {
        port.clearRecord();
        EXPECT_EQ(errorOf(rejected[i].first), rejected[i].second) << "case " << i;
        EXPECT_EQ(port.sent(), i + 1 < rejected.size() ? "" : "A5 79 5A 73 C3 E7 7E") << "case " << i;
    }
}

// Failures of a send part-way are checked through the sign clicks; these are the link's own.
TEST(PanelLine, ConfigurationAndOpenFailuresAreShownNotRaised)
{
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLine link{port, status};
    link.initSerial(9600);
    EXPECT_EQ(port.settings, PortSettings{});
    EXPECT_TRUE(status.texts.empty());
    port.openError = LineError::CouldNotOpenDevice;
    EXPECT_EQ(link.openSendClose(2, [] { ADD_FAILURE() << "sent without a port"; }), SendOutcome::NotOpened);
    EXPECT_EQ(status.texts[1] + " / " + status.toolTips[1], "Erro a abrir a porta serie / Permission denied");
    // The next open clears the message and its reason; a port already open is used as it is.
    port.openError.reset();
    EXPECT_EQ(link.openSendClose(2, [] {}), SendOutcome::Sent);
    EXPECT_EQ(status.texts[1] + "/" + status.toolTips[1], std::string(29, ' ') + "/");
    port.open = true;
    port.clearRecord();
    EXPECT_TRUE(link.openPort(1));
    EXPECT_EQ(port.calls, std::vector<std::string>{});
}

TEST(PortSettings, WireTimeCountsEveryBit)
{
    EXPECT_DOUBLE_EQ(wireSeconds(PortSettings{.baud = 9600, .parity = Parity::Even, .stopBits = StopBits::Two}, 800), 1.0);
    EXPECT_DOUBLE_EQ(wireSeconds(PortSettings{}, 960), 1.0);
}

} // namespace

// What came back against what went: the first difference named, more than was sent counted but
// not kept, however much a line that echoes noise for ever sends.
TEST(EchoComparison, TellsEachOutcomeAndKeepsNoMoreThanWasSent)
{
    const std::vector<std::uint8_t> sent{0xA5, 0x79, 0x5A, 0x71};
    const std::vector<std::uint8_t> flood(1 << 20, 0x55);
    struct Case {
        std::vector<std::vector<std::uint8_t>> back;
        Echo echo;
        std::size_t returned;
        std::string detail;
    };
    for (const auto& [back, echo, returned, detail] :
         {Case{{{0xA5, 0x79}, {0x5A, 0x71}}, Echo::Confirmed, 4, ""}, Case{{}, Echo::Missing, 0, ""},
          Case{{{0xA5, 0x79, 0x5B}}, Echo::Different, 3, "o byte 3 de 4 voltou 5B em vez de 5A"},
          Case{{sent, {0x00}}, Echo::Different, 5, "voltaram 1 bytes a mais do que os 4 enviados"}, Case{{{0xA5, 0x79, 0x5A}}, Echo::Incomplete, 3, "só voltaram 3 de 4 bytes"},
          Case{{flood, flood}, Echo::Different, 2U << 20, "o byte 1 de 4 voltou 55 em vez de A5"}}) {
        EchoComparison comparison;
        comparison.start();
        comparison.wrote(sent);
        for (const auto& bytes : back) comparison.returned(bytes);
        const EchoCheck check = comparison.verdict();
        EXPECT_EQ(std::tuple(echoWord(check.echo), check.written, check.returned, check.detail), std::tuple(echoWord(echo), sent.size(), returned, detail));
        EXPECT_EQ(comparison.complete(), returned >= sent.size());
    }
}
