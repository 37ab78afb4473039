#include "fake_serial_port.h"
#include "fake_status_line.h"
#include "panel/numbered_error.h"
#include "panel/panel_link.h"
#include "panel/port_settings.h"

#include <gtest/gtest.h>

namespace {

struct LinkTest : ::testing::Test {
    FakeSerialPort port;
    FakeStatusLine status;
    PanelSettings settings;
    PanelLink link{port, status, settings};
};

TEST_F(LinkTest, InitSerialHandsThePortTheSettingsString)
{
    link.initSerial(1, 9600);
    EXPECT_EQ(port.settings, " 9600,N,8,1");
    EXPECT_EQ(status.textWrites, 0);
    EXPECT_FALSE(port.open);
}

TEST_F(LinkTest, InitSerialFailureMessages)
{
    const std::vector<std::pair<int, std::string>> cases{
        {errnum::invalidPortNumber, "Invalid Port number"},
        {errnum::portAlreadyOpen, "Port already opened"},
        {errnum::hardwareNotAvailable, "Hardware not available"},
        {errnum::couldNotOpenDevice, "Could not open device"},
        {380, "Error numbr was 380"},
        {0, "Error numbr was 0"},
        {-5, "Error numbr was-5"},
    };
    for (const auto& [number, detail] : cases) {
        port.settingsError = number;
        link.initSerial(1, 9600);
        EXPECT_EQ(status.text(1), "Error initializing Serial Port\n" + detail) << number;
    }
}

TEST_F(LinkTest, OpenPortOnAClosedPortSelectsThePortFromTheSettings)
{
    settings.comPort = 2;
    status.setPanelText(1, "old");
    EXPECT_TRUE(link.openPort());
    EXPECT_EQ(port.calls, (std::vector<std::string>{"setPortNumber 2", "open"}));
    EXPECT_EQ(status.text(1), std::string(29, ' '));
    EXPECT_TRUE(port.open);
}

TEST_F(LinkTest, OpenPortOnAnOpenPortOnlyBlanksTheStatus)
{
    port.open = true;
    status.setPanelText(1, "old");
    EXPECT_TRUE(link.openPort());
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(status.text(1), std::string(29, ' '));
}

TEST_F(LinkTest, OpenPortFailureIsShownNotRaised)
{
    for (int number : {errnum::couldNotOpenDevice, errnum::invalidPortNumber, 1234}) {
        port.openError = number;
        port.openReason = "/dev/ttyS0: Permission denied";
        bool opened = true;
        EXPECT_NO_THROW(opened = link.openPort());
        EXPECT_FALSE(opened);
        EXPECT_EQ(status.text(1), "Erro a abrir a porta serie");
        EXPECT_EQ(status.toolTips[1], "/dev/ttyS0: Permission denied");
        EXPECT_FALSE(port.open);
    }
    // The next successful open blanks both the message and its reason.
    port.openError.reset();
    EXPECT_TRUE(link.openPort());
    EXPECT_EQ(status.text(1), std::string(29, ' '));
    EXPECT_EQ(status.toolTips[1], "");
}

TEST_F(LinkTest, ClosePortClosesOnlyAnOpenPort)
{
    link.closePort();
    EXPECT_TRUE(port.calls.empty());
    port.open = true;
    link.closePort();
    EXPECT_EQ(port.calls, (std::vector<std::string>{"close"}));
    EXPECT_FALSE(port.open);
    EXPECT_EQ(status.textWrites, 0);
}

TEST_F(LinkTest, ClosePortPassesAFailedDrainOn)
{
    port.open = true;
    port.closeError = errnum::writeFailed;
    EXPECT_THROW(link.closePort(), NumberedError);
}

TEST_F(LinkTest, AbandonSendClosesThePortAndSaysWhy)
{
    port.open = true;
    port.closeError = errnum::writeFailed;
    link.abandonSend(NumberedError(errnum::writeFailed, "/dev/ttyUSB0: Input/output error"));
    EXPECT_FALSE(port.open);
    EXPECT_EQ(status.text(1), "Erro a escrever na porta serie");
    EXPECT_EQ(status.toolTips[1], "/dev/ttyUSB0: Input/output error");
}

TEST(PortSettingsTest, AcceptedStrings)
{
    const std::vector<std::pair<std::string, PortSettings>> cases{
        {" 9600,N,8,1", {9600, Parity::None, 8, StopBits::One}},
        {"9600,n,8,1", {9600, Parity::None, 8, StopBits::One}},
        {"19200,E,7,2", {19200, Parity::Even, 7, StopBits::Two}},
        {"300,O,5,1.5", {300, Parity::Odd, 5, StopBits::OneAndHalf}},
        {"1200,M,6,1", {1200, Parity::Mark, 6, StopBits::One}},
        {"1200,S,8,1", {1200, Parity::Space, 8, StopBits::One}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parsePortSettings(text), expected) << text;
}

TEST(PortSettingsTest, RejectedStringsRaise380)
{
    for (const char* text : {"", "9600", "9600,N,8", "9600,N,8,1,1", "-9600,N,8,1", "0,N,8,1",
                             "96x0,N,8,1", "9600,X,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3",
                             "9600,NN,8,1"}) {
        try {
            (void)parsePortSettings(text);
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const NumberedError& e) {
            EXPECT_EQ(e.number(), 380) << text;
        }
    }
}

TEST(PortSettingsTest, SettingsStringAndWireTime)
{
    EXPECT_EQ(settingsString(9600), " 9600,N,8,1");
    EXPECT_EQ(settingsString(-5), "-5,N,8,1");
    EXPECT_DOUBLE_EQ(wireSeconds(parsePortSettings(" 9600,N,8,1"), 960), 1.0);
    EXPECT_DOUBLE_EQ(wireSeconds(parsePortSettings("9600,E,8,2"), 800), 1.0);
}

} // namespace
