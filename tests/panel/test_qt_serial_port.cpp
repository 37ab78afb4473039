#include "panel/numbered_error.h"
#include "panel/panel_commands.h"
#include "panel/port_devices.h"
#include "panel/qt_serial_port.h"
#include "pty_pair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <termios.h>

namespace {

// Points the config folder at a fresh temporary one, where the com<n> links live.
struct ConfigHome {
    QTemporaryDir dir;
    ConfigHome()
    {
        qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
        QDir().mkpath(configFolder());
    }
    void link(int n, const QString& target) const
    {
        const QString name = configFolder() + QStringLiteral("/com%1").arg(n);
        QFile::remove(name);
        ASSERT_TRUE(QFile::link(target, name));
    }
};

int errorNumberOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const NumberedError& e) {
        return e.number();
    }
    return 0;
}

// One multi-colour "Parar" as the program sends it: 43 bytes in 22 writes.
void sendStopSign(SerialPort& port)
{
    SignPatterns patterns;
    initPatterns(patterns);
    PanelCommands commands(port);
    commands.ledTimesRed();
    commands.sendPattern(patterns.patternStop);
    commands.set_sign_code(4);
    commands.display_on();
}

const std::vector<std::uint8_t> stopSignBytes{
    0xA5, 0x79, 0x5A, 0x75, 0xE7, 0xA5, 0x79, 0x5A, 0x76, 0x51,
    0xA5, 0x79, 0x5A, 0x73, 0xC3, 0xE7, 0x7E, 0x3C, 0x3C, 0x7E, 0xE7, 0xC3,
    0xA5, 0x79, 0x5A, 0x74, 0, 0, 0, 0, 0, 0, 0, 0,
    0xA5, 0x79, 0x5A, 0x7B, 0x04, 0xA5, 0x79, 0x5A, 0x71};

TEST(QtSerialPortTest, EveryByteWrittenBeforeAnImmediateCloseArrivesInOrder)
{
    ConfigHome home;
    PtyPair pty;
    home.link(1, QString::fromStdString(pty.slavePath()));
    QtSerialPort port;
    port.setSettings(" 9600,N,8,1");
    for (int run = 0; run < 20; ++run) {
        port.setPortNumber(1);
        port.setOpen(true);
        sendStopSign(port);
        port.setOpen(false);
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(pty.read(stopSignBytes.size()), stopSignBytes) << "run " << run;
        EXPECT_TRUE(pty.readAvailable().empty()) << "run " << run;
    }
}

TEST(QtSerialPortTest, AHungUpLineFailsTheSendAndLeavesThePortClosed)
{
    ConfigHome home;
    PtyPair pty;
    home.link(1, QString::fromStdString(pty.slavePath()));
    QtSerialPort port;
    port.setSettings(" 9600,N,8,1");
    port.setOpen(true);
    pty.hangUp();
    const int number = errorNumberOf([&] {
        sendStopSign(port);
        port.setOpen(false);
    });
    EXPECT_EQ(number, errnum::writeFailed);
    if (port.isOpen()) {
        EXPECT_EQ(errorNumberOf([&] { port.setOpen(false); }), errnum::writeFailed);
    }
    EXPECT_FALSE(port.isOpen());
}

TEST(QtSerialPortTest, SettingsApplyAtEveryOpenAndARejectedStringChangesNothing)
{
    ConfigHome home;
    PtyPair pty;
    home.link(2, QString::fromStdString(pty.slavePath()));
    QtSerialPort port;
    port.setSettings("19200,N,8,1");
    EXPECT_EQ(errorNumberOf([&] { port.setSettings("fast,N,8,1"); }), 380);
    port.setPortNumber(2);
    port.setOpen(true);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t{0});
    port.setOpen(false);
}

TEST(QtSerialPortTest, OpenFailuresCarryTheirNumbers)
{
    ConfigHome home;
    PtyPair pty;
    home.link(1, QString::fromStdString(pty.slavePath()));
    home.link(2, home.dir.path() + QStringLiteral("/no-such-device"));
    QtSerialPort port;
    port.setPortNumber(2);
    EXPECT_EQ(errorNumberOf([&] { port.setOpen(true); }), errnum::invalidPortNumber);
    EXPECT_FALSE(port.isOpen());

    port.setPortNumber(1);
    port.setOpen(true);
    EXPECT_EQ(errorNumberOf([&] { port.setOpen(true); }), errnum::portAlreadyOpen);
    EXPECT_EQ(errorNumberOf([&] { port.setPortNumber(2); }), errnum::portAlreadyOpen);
    port.setOpen(false);
    EXPECT_EQ(errorNumberOf([&] { port.setPortNumber(0); }), errnum::invalidPortNumber);
    const std::uint8_t byte = 0;
    EXPECT_EQ(errorNumberOf([&] { port.write(std::span(&byte, 1)); }), errnum::portNotOpen);
}

TEST(PortDevicesTest, LinkOrStandardDevice)
{
    ConfigHome home;
    PtyPair pty;
    EXPECT_EQ(deviceForPort(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(deviceForPort(2), QStringLiteral("/dev/ttyS1"));
    home.link(2, QString::fromStdString(pty.slavePath()));
    EXPECT_EQ(deviceForPort(2), QString::fromStdString(pty.slavePath()));
    // A link whose device is missing is not silently replaced by another device.
    home.link(1, home.dir.path() + QStringLiteral("/unplugged"));
    EXPECT_EQ(deviceForPort(1), configFolder() + QStringLiteral("/com1"));
}

} // namespace
