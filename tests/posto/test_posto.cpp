// SPDX-License-Identifier: GPL-3.0-or-later
#include "frames.h"
#include "journal_rows.h"
#include "notify_socket.h"
#include "program_home.h"
#include "pty_pair.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct PostService : ::testing::Test {
    ProgramHome home;
    PtyPair com1;
    std::vector<std::unique_ptr<QProcess>> posts;

    void SetUp() override { ASSERT_TRUE(home.linkPort(1, QString::fromStdString(com1.slavePath()))); }
    void TearDown() override
    {
        for (auto& p : posts) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    QProcess& start(const QProcessEnvironment& env, const QStringList& arguments = {})
    {
        auto& post = *posts.emplace_back(std::make_unique<QProcess>());
        post.setProcessEnvironment(env);
        post.setProcessChannelMode(QProcess::MergedChannels);
        post.start(PAINEL_POSTO_PATH, arguments);
        return post;
    }
    [[nodiscard]] QProcessEnvironment serviceEnvironment() const
    {
        QProcessEnvironment env = home.environment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"}) env.remove(display);
        env.insert("XDG_STATE_HOME", home.dir.filePath("state"));
        env.insert("NOTIFY_SOCKET", home.dir.filePath("notify"));
        env.insert("WATCHDOG_USEC", "400000");
        return env;
    }
};

// With no display at all: the desk program's start-up on the line before systemd hears "ready",
// no display library in the process, the watchdog fed until the loop stops turning, the command
// line answered, and SIGTERM ending it as "Sair" does.
TEST_F(PostService, StartsWithoutADisplayReadyOnlyOnceTheStartUpIsOut)
{
    const NotifySocket notify(home.dir.filePath("notify"));
    ASSERT_TRUE(notify.bound());
    QProcess& post = start(serviceEnvironment(), {"--grupo"});
    const auto told = notify.until("READY=1", 10000);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), "READY=1");
    EXPECT_EQ(hexBytes(com1.read(57, 0)), frames::startup + " " + frames::sign[0]);

    QFile maps(QStringLiteral("/proc/%1/maps").arg(post.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromLatin1(maps.readAll());
    for (const char* library : {"libQt6Gui", "libQt6Widgets", "libX11", "libxcb", "libEGL", "libfontconfig"}) EXPECT_FALSE(mapped.contains(QLatin1String(library))) << library;

    // Fed well within WatchdogSec, every time.
    int fed = 0;
    for (std::string m = notify.next(400); !m.empty() && fed < 5; m = notify.next(400)) fed += m == "WATCHDOG=1";
    EXPECT_EQ(fed, 5);
    ::kill(pid_t(post.processId()), SIGSTOP);
    (void)notify.until("WATCHDOG=1", 0); // what was already sent
    EXPECT_EQ(notify.next(600), "") << "a hung post must stop feeding the watchdog";
    ::kill(pid_t(post.processId()), SIGCONT);
    EXPECT_EQ(notify.next(600), "WATCHDOG=1");

    // The system service's door is its group's too, and nobody else's.
    using P = QFileDevice;
    const P::Permissions others = P::ReadGroup | P::WriteGroup | P::ReadOther | P::WriteOther;
    EXPECT_EQ(QFileInfo(home.runtime() + "/painel-sinaletico.socket").permissions() & others, P::ReadGroup | P::WriteGroup);
    QProcess line;
    line.setProcessEnvironment(home.environment());
    line.start(PAINEL_SINALETICO_PATH, {"--sinal", "Frente"});
    ASSERT_TRUE(line.waitForFinished(15000));
    EXPECT_EQ(line.exitCode(), 0) << line.readAllStandardError().toStdString();
    EXPECT_EQ(hexBytes(com1.read(43)), frames::sign[1]);

    ::kill(pid_t(post.processId()), SIGTERM);
    ASSERT_TRUE(post.waitForFinished(10000));
    EXPECT_EQ(std::pair(post.exitStatus(), post.exitCode()), std::pair(QProcess::NormalExit, 0));
    const auto last = notify.until("STOPPING=1", 1000);
    EXPECT_TRUE(!last.empty() && last.back() == "STOPPING=1");
}

// One program drives a panel: a second post of the same user, and a post of another home on a
// port another post holds, end at once, saying why, with nothing on the line.
TEST_F(PostService, ASecondPostAndAHeldPortEndWithoutSending)
{
    const NotifySocket notify(home.dir.filePath("notify"));
    QProcess& first = start(serviceEnvironment());
    ASSERT_FALSE(notify.until("READY=1", 10000).empty());
    (void)com1.read(57);
    EXPECT_EQ(QFileInfo(home.runtime() + "/painel-sinaletico.socket").permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);

    ProgramHome other;
    ASSERT_TRUE(other.linkPort(1, QString::fromStdString(com1.slavePath())));
    struct Case {
        const char* what;
        QProcessEnvironment env;
        QString says;
    };
    for (const Case& c : {Case{"the same user's", serviceEnvironment(), "já corre um posto"},
                          Case{"another's, on the same port", other.environment(), QStringLiteral("processo %1").arg(first.processId())}}) {
        QProcess& second = start(c.env);
        ASSERT_TRUE(second.waitForFinished(10000)) << c.what;
        const QString said = QString::fromUtf8(second.readAll());
        EXPECT_EQ(second.exitCode(), 1) << c.what;
        EXPECT_TRUE(said.contains(c.says)) << c.what << ": " << said.toStdString();
    }
    EXPECT_TRUE(com1.read(1, 300).empty());
    // Said in the journal too, where the operator looks later.
    const QStringList refused = journalRows(other.dir.path() + "/.local/state/painel-sinaletico/registo.sqlite", "resultado || '|' || motivo", "acao = 'arranque'");
    EXPECT_TRUE(refused.size() == 1 && refused[0].startsWith("recusado|a porta COM1") && refused[0].contains("painel-posto")) << refused.join('\n').toStdString();
}

} // namespace
