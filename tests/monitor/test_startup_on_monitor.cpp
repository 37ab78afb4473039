// The program's start-up as the virtual panel sees it: the built monitor on a pseudo-terminal,
// COM1 linked to it, and the built program started against it.
#include "startup_log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

class StartupOnMonitorTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // The program before the line it writes to.
        for (QProcess* p : {&program, &monitor}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(10000);
            }
        }
    }

    // The monitor's next line, or nothing once the deadline has passed.
    std::optional<QString> nextLine()
    {
        while (!monitor.canReadLine()) {
            if (deadline.hasExpired() || !monitor.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return std::nullopt;
        }
        return QString::fromUtf8(monitor.readLine()).chopped(1);
    }

    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    QTemporaryDir home;
    QProcess monitor;
    QProcess program;
    QDeadlineTimer deadline{20000};
};

TEST_F(StartupOnMonitorTest, PrintsTheRedXOfPararAfterTheStartUpFrames)
{
    ASSERT_TRUE(home.isValid());
    monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    monitor.start(QStringLiteral(PAINEL_MONITOR), {QStringLiteral("--pty")});
    const auto pty = nextLine();
    ASSERT_TRUE(pty.has_value()) << "the monitor printed no device path";

    const QString config = home.path() + QStringLiteral("/config/painel-sinaletico");
    ASSERT_TRUE(QDir().mkpath(config));
    const QString runtime = home.path() + QStringLiteral("/runtime");
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(QFile::link(*pty, config + QStringLiteral("/com1")));

    program.setProcessEnvironment(programEnvironment());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(PROGRAM_PATH), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The panel's own start-up, lit while still blank, then "Parar" through the sign road.
    const QStringList expected = startupLog();

    const QRegularExpression stamped(QStringLiteral("^\\d+\\.\\d{3}  (.*)$"));
    // Plain strings, so that a mismatch prints as text.
    std::vector<std::string> want;
    std::vector<std::string> seen;
    for (const QString& line : expected) want.push_back(line.toStdString());
    while (seen.size() < want.size()) {
        const auto line = nextLine();
        if (!line) break;
        const auto match = stamped.match(*line);
        seen.push_back((match.hasMatch() ? match.captured(1) : *line).toStdString());
    }
    EXPECT_EQ(seen, want);
    EXPECT_EQ(program.state(), QProcess::Running);
}

} // namespace
