// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "panel/panel_commands.h"
#include "panel/panel_link.h"
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
    for (const auto command : {&PanelCommands::enter_test_mode, &PanelCommands::command_78, &PanelCommands::command_79,
                               &PanelCommands::command_7a})
        (c.*command)();
    c.set_redled_time(256);
    c.set_greenled_time(1);
    c.set_sign_code(0);
    c.set_sign_code(255);
    EXPECT_EQ(port.sent(), "A5 79 5A 72 A5 79 5A 78 A5 79 5A 79 A5 79 5A 7A A5 79 5A 75 00 A5 79 5A 76 FF "
                           "A5 79 5A 7B 00 A5 79 5A 7B FF");
    SignPattern notBytes = pattern;
    notBytes[3][redPlane] = 0x100;
    const std::vector<std::pair<std::function<void()>, int>> rejected{
        {[&] { c.set_redled_time(0); }, errnum::invalidArgument},
        {[&] { c.set_redled_time(257); }, errnum::invalidArgument},
        {[&] { c.set_greenled_time(-32511); }, errnum::invalidArgument},
        {[&] { c.set_greenled_time(-32512); }, errnum::overflow},
        {[&] { c.set_sign_code(-1); }, errnum::invalidArgument},
        {[&] { c.set_sign_code(256); }, errnum::invalidArgument},
        {[&] { c.sendPatternMono(pattern, colourRed, 2); }, errnum::subscriptOutOfRange},
        {[&] { c.sendPatternMono(pattern, 0x808080, 0); }, 0},
        // A line that is not a byte stops the upload there.
        {[&] { c.sendPattern(notBytes); }, errnum::invalidArgument},
    };
    for (std::size_t i = 0; i < rejected.size(); ++i) {
        port.clearRecord();
        EXPECT_EQ(errorNumberOf(rejected[i].first), rejected[i].second) << "case " << i;
        EXPECT_EQ(port.sent(), i + 1 < rejected.size() ? "" : "A5 79 5A 73 C3 E7 7E") << "case " << i;
    }
}

// Failures of a send part-way are checked through the sign clicks; these are the link's own.
TEST(PanelLink, ConfigurationAndOpenFailuresAreShownNotRaised)
{
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLink link{port, status};
    link.initSerial(1, 9600);
    EXPECT_EQ(port.settings, " 9600,N,8,1");
    EXPECT_TRUE(status.texts.empty());
    for (const auto& [number, detail] : std::vector<std::pair<int, std::string>>{{8002, "Invalid Port number"},
             {8005, "Port already opened"}, {8010, "Hardware not available"}, {8012, "Could not open device"}, {-5, "Error numbr was-5"}}) {
        port.settingsError = number;
        link.initSerial(1, 9600);
        EXPECT_EQ(status.texts[1], "Error initializing Serial Port\n" + detail);
    }
    port.openError = errnum::couldNotOpenDevice;
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

TEST(PortSettings, ParsedStrictly)
{
    const std::vector<std::pair<std::string, PortSettings>> accepted{
        {"19200,e,7,2", {19200, Parity::Even, 7, StopBits::Two}}, {"300,O,5,1.5", {300, Parity::Odd, 5, StopBits::OneAndHalf}}};
    for (const auto& [text, expected] : accepted) EXPECT_EQ(parsePortSettings(text), expected) << text;
    for (const char* text : {"", "9600,N,8", "9600,N,8,1,1", "0,N,8,1", "96x0,N,8,1", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3"})
        EXPECT_EQ(errorNumberOf([&] { (void)parsePortSettings(text); }), 380) << text;
    EXPECT_DOUBLE_EQ(wireSeconds(parsePortSettings("9600,E,8,2"), 800), 1.0);
}

} // namespace
