// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "panel/hex_bytes.h"
#include "panel/line_error.h"
#include "pty_pair.h"
#include "serial/port_devices.h"
#include "serial/qt_serial_port.h"
#include "stalled_line.h"

#include "cable_echo.h"

#include <QSerialPort>
#include <QTest>
#include <QtCore>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A fresh configuration folder, where COM1 is linked to the pseudo-terminal and COM2 to a
// device that is missing.
struct QtSerialPortTest : ::testing::Test {
    QTemporaryDir home;
    PtyPair pty;
    QtSerialPort port;

    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        QDir().mkpath(configFolder());
        ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slavePath()), configFolder() + "/com1"));
        ASSERT_TRUE(QFile::link(home.path() + "/unplugged", configFolder() + "/com2"));
    }
    // Why port `number` could not be opened and closed again, or nothing.
    QString reasonOf(std::int16_t number)
    {
        try {
            port.setPortNumber(number);
            port.setOpen(true);
            port.setOpen(false);
        } catch (const LineException& e) {
            return QString::fromStdString(e.what());
        }
        return {};
    }
    // "Parar", a byte a write, and the close at once.
    void sendStopSign()
    {
        for (const std::uint8_t byte : fromHex(frames::sign[0])) port.write(std::span(&byte, 1));
        port.setOpen(false);
    }
};

TEST_F(QtSerialPortTest, EveryByteWrittenBeforeAnImmediateCloseArrivesInOrder)
{
    // The settings apply at every open.
    port.setSettings(PortSettings{.baud = 19200});
    port.setOpen(true);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t{B19200});
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
    port.setOpen(false);
    // The line passes every byte untouched, whoever writes it.
    const int fd = ::open(pty.slavePath().c_str(), O_WRONLY | O_NOCTTY);
    EXPECT_EQ(::write(fd, "\n\r\x03", 3), 3);
    ::close(fd);
    EXPECT_EQ(hexBytes(pty.read(3)), "0A 0D 03");
    port.setSettings(PortSettings{});
    for (int run = 0; run < 20; ++run) {
        port.setOpen(true);
        sendStopSign();
        EXPECT_EQ(hexBytes(pty.read(43)), frames::sign[0]) << "run " << run;
        EXPECT_TRUE(pty.readAvailable().empty()) << "run " << run;
    }
}

TEST_F(QtSerialPortTest, AHungUpLineFailsTheSendAndLeavesThePortClosed)
{
    port.setOpen(true);
    pty.hangUp();
    try {
        sendStopSign();
        ADD_FAILURE() << "a send on a hung-up line went through";
    } catch (const LineException& e) {
        EXPECT_EQ(std::pair(e.error(), std::string(e.what())), std::pair(LineError::WriteFailed, pty.slavePath() + ": o dispositivo deixou de responder (adaptador desligado?)"));
    }
    // The send is given up: the close drops what is queued, without waiting or failing again.
    EXPECT_EQ(errorOf([&] { port.setOpen(false); }), std::nullopt);
    EXPECT_FALSE(port.isOpen());
}

// The far end has stopped reading and the line's buffer is full. A line that stays full fails the
// send with a reason an operator can read, and the send and the close are over within the wire
// time plus 100 ms; a buffer that empties again within the deadline is no failure.
TEST_F(QtSerialPortTest, AFullLineFailsTheSendOnlyWhenItStaysFullPastTheDeadline)
{
    const auto wireMs = static_cast<qint64>(1000 * wireSeconds(PortSettings{}, 43));
    for (const bool resumes : {false, true}) {
        auto stuck = std::make_unique<StuckFarEnd>(pty.slavePath());
        std::vector<std::uint8_t> arrived;
        std::thread farEnd;
        if (resumes) {
            stuck.reset(); // still full, but nothing fills it any more
            farEnd = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the far end's pause
                arrived = pty.read(SIZE_MAX, 300);
            });
        }
        QElapsedTimer clock;
        clock.start();
        std::string reason;
        port.setOpen(true);
        try {
            sendStopSign();
        } catch (const LineException& e) {
            reason = e.what();
            port.setOpen(false);
        }
        const qint64 took = clock.elapsed();
        EXPECT_FALSE(port.isOpen());
        if (resumes) {
            farEnd.join();
            EXPECT_EQ(reason, "");
            ASSERT_GE(arrived.size(), 43U);
            EXPECT_EQ(hexBytes({arrived.end() - 43, arrived.end()}), frames::sign[0]);
        } else {
            EXPECT_NE(reason.find("a linha não aceita dados há"), std::string::npos) << reason;
            EXPECT_LT(took, wireMs + 100);
        }
    }
}

// A port whose driver lets bytes go at 9600 baud, as a real adapter does: a pseudo-terminal
// takes them at once, so the driver's queue is told from when each was written.
class WireSpeedPort final : public QtSerialPort {
public:
    void write(std::span<const std::uint8_t> bytes) override
    {
        QtSerialPort::write(bytes);
        if (!clock_.isValid() || leavesAtMs_ < double(clock_.elapsed())) {
            clock_.start();
            leavesAtMs_ = 0;
        }
        leavesAtMs_ += 1000.0 * wireSeconds(PortSettings{}, std::int64_t(bytes.size()));
    }

private:
    [[nodiscard]] int queuedForLine() const override { return int(std::ceil((leavesAtMs_ - double(clock_.elapsed())) / byteMs)); }

    static constexpr double byteMs = 1000.0 * 10 / 9600;
    QElapsedTimer clock_;
    double leavesAtMs_ = 0;
};

// The panel's end of a looped cable on the pseudo-terminal's master: what arrives goes back at
// the wire's pace, `delayMs` later, as the monitor's echo plays it (cut, or a byte changed);
// or the line floods the receive side with noise.
struct LoopedCable {
    struct Play {
        int delayMs = 2;
        std::size_t cutAfter = 0;
        bool garble = false, flood = false, silent = false;
    };
    LoopedCable(int master, Play play) : master(master), play(play), delayMs(play.delayMs) {}
    ~LoopedCable()
    {
        stop = true;
        thread.join();
    }
    void run()
    {
        CableEcho echo;
        echo.cutAfter(play.cutAfter);
        if (play.garble) echo.garbleNext();
        std::array<std::uint8_t, 64> noise{};
        noise.fill(0x55);
        // Noise never waits for room: what does not fit is lost, as on a real line.
        const int flags = ::fcntl(master, F_GETFL);
        if (play.flood) ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
        for (pollfd ready{master, POLLIN, 0}; !stop;) {
            if (play.flood) (void)!::write(master, noise.data(), noise.size());
            char buffer[256];
            const ssize_t n = ::poll(&ready, 1, play.flood ? 1 : 5) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
            if (n <= 0 || play.silent) continue;
            const QByteArray back = echo.respond(QByteArray(buffer, qsizetype(n)));
            std::this_thread::sleep_for(std::chrono::microseconds(1042 * n) + std::chrono::milliseconds(delayMs));
            if (!back.isEmpty() && ::write(master, back.data(), std::size_t(back.size())) == back.size()) echoed += std::size_t(back.size());
        }
        ::fcntl(master, F_SETFL, flags);
    }

    int master;
    Play play;
    std::atomic<int> delayMs;
    std::atomic<std::size_t> echoed{0};
    std::atomic<bool> stop{false};
    std::thread thread{[this] { run(); }};
};

// Each send is proved by what comes back, and by nothing else: the bytes waiting before the open,
// an echo that came after the margin, a receive line flooded with noise. On a line that drains at
// the wire's speed the start-up's 57 bytes and their echo take about 59 ms: no failure, no
// missing echo. A missing echo costs no more than the wire time and the margin.
TEST_F(QtSerialPortTest, TheEchoProvesEachSendAndNothingElseCountsAsIt)
{
    using Play = LoopedCable::Play;
    struct Case {
        const char* name;
        Play play;
        Echo echo;
        std::string detail;
    };
    const std::vector<Case> cases{{"looped", {}, Echo::Confirmed, ""},
                                  {"cut", {.silent = true}, Echo::Missing, ""},
                                  {"noise", {.garble = true}, Echo::Different, "o byte 1 de 57 voltou 5A em vez de A5"},
                                  {"cut mid-send", {.cutAfter = 20}, Echo::Incomplete, "só voltaram 20 de 57 bytes"},
                                  {"flooded", {.flood = true, .silent = true}, Echo::Different, "o byte 1 de 57 voltou 55 em vez de A5"}};
    const auto wireMs = static_cast<qint64>(1000 * wireSeconds(PortSettings{}, 57));
    for (const Case& c : cases) {
        WireSpeedPort wire;
        wire.setEcho(true);
        LoopedCable cable(pty.masterFd(), c.play);
        QElapsedTimer clock;
        clock.start();
        wire.setOpen(true);
        for (const std::uint8_t byte : fromHex(frames::startup + " " + frames::sign[0])) wire.write(std::span(&byte, 1));
        EXPECT_EQ(errorOf([&] { wire.setOpen(false); }), std::nullopt) << c.name;
        const qint64 took = clock.elapsed();
        const EchoCheck check = wire.lastEcho();
        EXPECT_EQ(std::tuple(echoWord(check.echo), check.written, check.detail), std::tuple(echoWord(c.echo), std::size_t{57}, c.detail)) << c.name;
        EXPECT_GE(took, wireMs) << c.name << ": the line drained faster than the wire";
        EXPECT_LT(took, wireMs + LinePort::echoMarginMs + 60) << c.name;
        // A whole echo is not waited for any longer than it takes.
        if (c.echo == Echo::Confirmed) {
            EXPECT_LT(took, wireMs + LinePort::echoMarginMs / 2) << c.name;
        }
    }

    // What waits before the open, and an echo later than the margin, are not this send's.
    LoopedCable late(pty.masterFd(), {.delayMs = 300});
    ASSERT_EQ(::write(pty.masterFd(), "\x00\x55", 2), 2);
    for (const Echo expected : {Echo::Missing, Echo::Confirmed}) {
        if (expected == Echo::Confirmed) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return late.echoed == 43; }, 2000)); // now waiting in the input
            late.delayMs = 0;
        }
        port.setEcho(true);
        port.setOpen(true);
        sendStopSign();
        EXPECT_EQ(echoWord(port.lastEcho().echo), echoWord(expected)) << port.lastEcho().detail;
    }
}

TEST_F(QtSerialPortTest, OpenFailuresCarryTheirNumbersAndAMissingDeviceIsNotReplaced)
{
    port.setPortNumber(2);
    EXPECT_EQ(errorOf([&] { port.setOpen(true); }), LineError::InvalidPortNumber);
    EXPECT_FALSE(port.isOpen());
    port.setPortNumber(1);
    port.setOpen(true);
    EXPECT_EQ(errorOf([&] { port.setOpen(true); }), LineError::PortAlreadyOpen);
    EXPECT_EQ(errorOf([&] { port.setPortNumber(2); }), LineError::PortAlreadyOpen);
    port.setOpen(false);
    EXPECT_EQ(errorOf([&] { port.setPortNumber(0); }), LineError::InvalidPortNumber);
    const std::uint8_t byte = 0;
    EXPECT_EQ(errorOf([&] { port.write(std::span(&byte, 1)); }), LineError::PortNotOpen);
    EXPECT_EQ(deviceForPort(1), QString::fromStdString(pty.slavePath()));
    EXPECT_EQ(deviceForPort(2), configFolder() + "/com2");
    EXPECT_EQ(deviceForPort(3), "/dev/ttyS2");
}

// A binding goes through the device's stable name where it has one and keeps a typed path as
// typed otherwise; what cannot be a serial line is refused and changes nothing, and so is a
// com<n> that the operator made a plain file.
TEST_F(QtSerialPortTest, BindingsPreferTheStableNameAndRefuseWhatIsNoSerialLine)
{
    const QString pts = QString::fromStdString(pty.slavePath());
    const QString stable = home.filePath("by-id");
    ASSERT_TRUE(QDir().mkpath(stable) && QFile::link(pts, stable + "/usb-Stand_in-if00-port0"));
    EXPECT_EQ(bindPort(2, pts, stable), std::nullopt);
    EXPECT_EQ(portBinding(2).target + " " + deviceForPort(2), stable + "/usb-Stand_in-if00-port0 " + pts);
    EXPECT_EQ(bindPort(2, " " + pts + " ", home.filePath("none")), std::nullopt);
    EXPECT_EQ(portBinding(2).target, pts);
    QFile notes(home.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    const std::vector<std::pair<QString, QString>> refused{{" ", "Escolha uma porta"},
                                                           {home.filePath("nowhere"), "não existe."},
                                                           {home.path(), "é uma pasta"},
                                                           {notes.fileName(), "não é um dispositivo série"},
                                                           {"/dev/null", "não é um dispositivo série"}};
    for (const auto& [path, says] : refused) {
        EXPECT_TRUE(bindPort(2, path, stable).value_or("").contains(says)) << path.toStdString();
        EXPECT_EQ(portBinding(2).target, pts) << path.toStdString();
    }
    EXPECT_EQ(unbindPort(2), std::nullopt);
    EXPECT_EQ(deviceForPort(2), "/dev/ttyS1");
    EXPECT_TRUE(unbindPort(2).value_or("").contains("não tem ligação"));
    QFile own(configFolder() + "/com2");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    EXPECT_TRUE(bindPort(2, pts, stable).value_or("").contains("não é uma ligação"));
    EXPECT_TRUE(unbindPort(2).value_or("").contains("não é uma ligação"));
    EXPECT_TRUE(QFileInfo(own.fileName()).isFile());
}

// Another program's lock on the port is respected while its process lives, in the formats
// minicom and Qt write; a lock left by a process that is gone, or left empty by one killed while
// writing it, holds nothing and is cleared.
TEST_F(QtSerialPortTest, ALiveProgramsLockIsRespectedAndAStaleOneIsCleared)
{
    const QString pts = QString::fromStdString(pty.slavePath());
    const QString lock = "/var/lock/LCK.." + pts.mid(5).replace('/', '_');
    if (!QFileInfo("/var/lock").isWritable()) GTEST_SKIP() << "/var/lock cannot be written here";
    QProcess live, gone;
    live.start("sleep", {"30"});
    gone.start("true");
    ASSERT_TRUE(live.waitForStarted() && gone.waitForStarted());
    const qint64 goneId = gone.processId();
    ASSERT_TRUE(gone.waitForFinished());
    const QString held = QString("%1 está em uso por sleep (processo %2)").arg(pts).arg(live.processId());
    const std::vector<std::pair<QByteArray, QString>> cases{
        {QString("%1\n").arg(live.processId(), 10).toUtf8(), held},
        {QString("%1\nsleep\n").arg(live.processId()).toUtf8(), held},
        {QString("%1\n").arg(goneId, 10).toUtf8(), ""},
        // another machine's process: nothing here can tell it is gone
        {QString("%1\nminicom\noutro-posto\n").arg(goneId).toUtf8(), QString("%1 está em uso por minicom (processo %2)").arg(pts).arg(goneId)},
        {"", ""}};
    for (const auto& [content, reason] : cases) {
        QFile file(lock);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        EXPECT_EQ(reasonOf(1), reason) << content.toStdString();
        EXPECT_EQ(QFile::exists(lock), !reason.isEmpty()) << content.toStdString();
        QFile::remove(lock);
    }
    live.kill();
    live.waitForFinished();
}

// Each cause of a failed open in words an operator can act on, naming the real device.
TEST_F(QtSerialPortTest, OpenFailuresSayWhatTheOperatorCanDoAboutThem)
{
    const QString pts = QString::fromStdString(pty.slavePath());
    EXPECT_EQ(reasonOf(2), "adaptador desligado? " + configFolder() + "/com2 aponta para " + home.filePath("unplugged") + ", que não existe");
    QFile notes(home.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && QFile::link(notes.fileName(), configFolder() + "/com3"));
    EXPECT_EQ(reasonOf(3), notes.fileName() + " não é um dispositivo série");
    // Every open of the multiplexer makes a new pseudo-terminal that nobody reads.
    ASSERT_TRUE(QFile::link("/dev/ptmx", configFolder() + "/com4"));
    EXPECT_EQ(reasonOf(4), "/dev/ptmx não é um dispositivo série");
    QFile comm("/proc/self/comm");
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    QSerialPort holder(pts);
    ASSERT_TRUE(holder.open(QIODevice::WriteOnly));
    EXPECT_EQ(reasonOf(1), QString("%1 está em uso por %2 (processo %3)").arg(pts, comm.readAll().trimmed()).arg(::getpid()));
    holder.close();
    EXPECT_EQ(reasonOf(1), "");

    // The far end of a pseudo-terminal (the virtual panel, holding its slave beside the master)
    // is not who holds the line: the other program that has it open is.
    QProcess monitor, user;
    monitor.start(PAINEL_MONITOR_PATH, {"--pty"});
    ASSERT_TRUE(monitor.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(monitor.readLine()).trimmed();
    user.setStandardInputFile(line);
    user.start("sleep", {"30"});
    ASSERT_TRUE(user.waitForStarted());
    PortBinding busy;
    busy.device = line;
    busy.present = true;
    EXPECT_EQ(openFailureReason(busy, "x"), QString("%1 está em uso por sleep (processo %2)").arg(line).arg(user.processId()));
    for (QProcess* p : {&user, &monitor}) {
        p->kill();
        p->waitForFinished();
    }

    // Permission denied, as an unprivileged user meets it: the way in named is one that works.
    if (::geteuid() != 0) GTEST_SKIP() << "only root can become an unprivileged user here";
    ASSERT_TRUE(QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther));
    struct stat st {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
    const QString group = QString::fromLocal8Bit(::getgrgid(st.st_gid)->gr_name);
    constexpr uid_t nobody = 65534;
    // With the cable's echo, the port must open to read too: a write-only port is refused, never
    // opened for writing alone.
    const std::vector<std::tuple<uid_t, gid_t, mode_t, bool, QString>> cases{
        {0, st.st_gid, 0620, false, QString("sem permissão para abrir %1, que é do grupo %2: junte o utilizador ao grupo %2 e volte a entrar na sessão").arg(pts, group)},
        {0, 0, 0600, false, QString("sem permissão para abrir %1: só root o pode abrir").arg(pts)},
        {nobody, nobody, 0, false, QString("sem permissão para abrir %1, que é seu mas cujas permissões o impedem: chmod u+w %1").arg(pts)},
        {nobody, nobody, 0200, true,
         QString("sem permissão para abrir %1, que é seu mas cujas permissões o impedem: chmod u+rw %1 (com o eco do cabo, a porta abre também para ler)").arg(pts)},
        {0, st.st_gid, 0620, true, QString("sem permissão para abrir %1: só root o pode abrir (com o eco do cabo, a porta abre também para ler)").arg(pts)}};
    for (const auto& [owner, ownerGroup, mode, echo, reason] : cases) {
        port.setEcho(echo);
        ASSERT_EQ(::chown(pty.slavePath().c_str(), owner, ownerGroup) | ::chmod(pty.slavePath().c_str(), mode), 0);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        if (::fork() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(1);
            const QByteArray said = reasonOf(1).toUtf8();
            ::_exit(::write(out[1], said.data(), static_cast<std::size_t>(said.size())) == said.size() ? 0 : 1);
        }
        ::close(out[1]);
        QFile said;
        ASSERT_TRUE(said.open(out[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        EXPECT_EQ(QString::fromUtf8(said.readAll()), reason) << mode;
        int status = 0;
        ::wait(&status);
        EXPECT_EQ(status, 0);
    }
}

} // namespace
