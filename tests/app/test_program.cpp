// The built program, run as an operator would run it, against pseudo-terminals standing in
// for the panel.
#include "frames.h"
#include "program_home.h"
#include "pty_pair.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct ProgramTest : ::testing::Test {
    ProgramHome home;
    PtyPair com1;
    std::vector<std::unique_ptr<QProcess>> processes;

    void SetUp() override { ASSERT_TRUE(home.linkPort(1, QString::fromStdString(com1.slavePath()))); }
    void TearDown() override
    {
        // Newest first: the programs before the display server they draw on.
        for (auto p = processes.rbegin(); p != processes.rend(); ++p) {
            (*p)->kill();
            (*p)->waitForFinished(5000);
        }
    }
    QProcess& start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
    {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessEnvironment(env);
        processes.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processes.back()->start(program, arguments);
        EXPECT_TRUE(processes.back()->waitForStarted(10000));
        return *processes.back();
    }
    QProcess& startProgram(const QProcessEnvironment& env) { return start(PROGRAM_PATH, {}, env); }
    [[nodiscard]] std::string startUpOn(PtyPair& pty) { return hex(pty.read(57, 10000)); }
};

const std::string defaultStartUp = frames::startup + " " + frames::sign[0];

TEST_F(ProgramTest, AKilledCopyDoesNotBlockTheNext)
{
    QProcess& first = startProgram(home.environment());
    EXPECT_EQ(startUpOn(com1), defaultStartUp);
    first.kill(); // SIGKILL: no chance to remove its lock
    ASSERT_TRUE(first.waitForFinished(5000));
    QProcess& second = startProgram(home.environment());
    EXPECT_EQ(startUpOn(com1), defaultStartUp);
    EXPECT_EQ(second.state(), QProcess::Running);
}

// A bare X server: no window manager ever activates the window, yet the panel must be set up;
// and the refusal of a second copy is a message box the operator must dismiss.
TEST_F(ProgramTest, OnABareXServerStartsAndRefusesASecondCopy)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    ASSERT_FALSE(xvfb.isEmpty() || xdotool.isEmpty()) << "Xvfb and xdotool are needed (scripts/deps.sh installs them)";
    QProcess& server = start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, home.environment());
    ASSERT_TRUE(server.waitForReadyRead(10000));
    QProcessEnvironment env = home.environment("xcb");
    env.insert("DISPLAY", ":" + QString::fromLatin1(server.readLine()).trimmed());

    QProcess& first = startProgram(env);
    EXPECT_EQ(startUpOn(com1), defaultStartUp);
    QProcess& second = startProgram(env);
    const auto xdo = [&](const QStringList& args) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(xdotool, args);
        tool.waitForFinished(15000);
        return QString::fromLatin1(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    const QStringList box = xdo({"search", "--sync", "--name", "^Info$"});
    ASSERT_EQ(box.size(), 1);
    EXPECT_EQ(xdo({"search", "--name", "^Tramonda"}).size(), 1); // only the first copy has a main window
    xdo({"windowfocus", "--sync", box.first()});
    xdo({"key", "Return"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(com1.readAvailable().empty());
}

} // namespace
