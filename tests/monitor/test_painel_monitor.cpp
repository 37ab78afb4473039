#include "startup_log.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Run {
    QStringList arguments;
    int stopSignal;
};

void PrintTo(const Run& run, std::ostream* os) { *os << run.arguments.join(' ').toStdString(); }

class PainelMonitorTest : public ::testing::TestWithParam<Run> {
protected:
    void SetUp() override
    {
        monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor.start(QStringLiteral(PAINEL_MONITOR), GetParam().arguments);
        ASSERT_TRUE(monitor.waitForStarted(10000));
    }

    void TearDown() override
    {
        if (monitor.state() != QProcess::NotRunning) {
            monitor.kill();
            monitor.waitForFinished(10000);
        }
    }

    // The next line of standard output, or an empty optional once the deadline has passed.
    std::optional<QString> nextLine()
    {
        while (!monitor.canReadLine()) {
            if (deadline.hasExpired()
                || !monitor.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return std::nullopt;
        }
        return QString::fromUtf8(monitor.readLine()).chopped(1);
    }

    QProcess monitor;
    QDeadlineTimer deadline{20000};
};

// Every frame on a fresh open of the device, as the program opens and closes the port for
// each action: the monitor must keep receiving across all of them.
void sendOnFreshOpen(const QString& device, const std::vector<std::uint8_t>& frame)
{
    const int fd = ::open(device.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(fd, 0) << device.toStdString();
    EXPECT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    ::close(fd);
}

TEST_P(PainelMonitorTest, ShowsTheFramesOfPararAndItsRedX)
{
    const auto path = nextLine();
    ASSERT_TRUE(path.has_value());
    ASSERT_TRUE(path->startsWith(QStringLiteral("/dev/"))) << path->toStdString();

    const std::vector<std::vector<std::uint8_t>> frames{
        // 0x0A first: a line discipline left cooked would turn it into 0D 0A.
        {0xA5, 0x79, 0x5A, 0x7B, 0x0A},
        {0xA5, 0x79, 0x5A, 0x75, 0xE7},
        {0xA5, 0x79, 0x5A, 0x76, 0x51},
        {0xA5, 0x79, 0x5A, 0x71},
        {0xA5, 0x79, 0x5A, 0x75, 0xE7},
        {0xA5, 0x79, 0x5A, 0x76, 0x51},
        {0xA5, 0x79, 0x5A, 0x73, 0xC3, 0xE7, 0x7E, 0x3C, 0x3C, 0x7E, 0xE7, 0xC3},
        {0xA5, 0x79, 0x5A, 0x74, 0, 0, 0, 0, 0, 0, 0, 0},
        {0xA5, 0x79, 0x5A, 0x7B, 0x04},
        {0xA5, 0x79, 0x5A, 0x71},
    };
    for (const auto& frame : frames) sendOnFreshOpen(*path, frame);

    const QStringList expected = QStringList{"A5 79 5A 7B 0A  set_sign_code 10"} + startupLog();

    const QRegularExpression stamped(QStringLiteral("^(\\d+\\.\\d{3})  (.*)$"));
    double lastMs = 0;
    for (const QString& want : expected) {
        const auto line = nextLine();
        ASSERT_TRUE(line.has_value()) << "waiting for " << want.toStdString();
        if (want.startsWith(QStringLiteral("A5"))) {
            const auto match = stamped.match(*line);
            ASSERT_TRUE(match.hasMatch()) << line->toStdString();
            EXPECT_EQ(match.captured(2), want);
            EXPECT_GE(match.captured(1).toDouble(), lastMs);
            lastMs = match.captured(1).toDouble();
        } else {
            EXPECT_EQ(*line, want);
        }
    }

    ::kill(static_cast<pid_t>(monitor.processId()), GetParam().stopSignal);
    ASSERT_TRUE(monitor.waitForFinished(10000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0);
    EXPECT_EQ(monitor.readAll(), QByteArray()) << "nothing more than the frames";
}

INSTANTIATE_TEST_SUITE_P(Modes, PainelMonitorTest,
                         ::testing::Values(Run{{"--pty"}, SIGTERM}, Run{{"--pty", "--window"}, SIGINT}),
                         [](const auto& info) { return info.index == 0 ? "Pty" : "PtyWithWindow"; });

} // namespace
