// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame_decoder.h"
#include "frames.h"
#include "preview_matrix.h"
#include "pty_line.h"
#include "virtual_panel.h"
#include "wire_monitor.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::string describe(const WireEvent& e)
{
    const char* kinds[] = {"frame", "stray", "unknown", "incomplete"};
    return std::string(kinds[int(e.kind)]) + " | " + hexBytes(e.bytes) + " | " + e.meaning + (e.matrix ? " | matrix" : "");
}

// Every command, with line bytes that look like a prefix, noise before, between and after the
// frames, and unknown commands; the stream is the hex fields back to back.
const std::vector<std::string> everything{
    "stray | 01 02 03 | stray bytes",
    "frame | A5 79 5A 74 A5 79 5A 00 FF 80 01 7E | green plane", // display still off
    "frame | A5 79 5A 71 | display_on | matrix",
    "frame | A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3 | red plane",
    "frame | A5 79 5A 74 00 00 00 00 00 00 00 00 | green plane | matrix",
    "frame | A5 79 5A 75 00 | set_redled_time 256",
    "unknown | A5 79 5A 77 | unknown command 77",
    "frame | A5 79 5A 78 | command_78",
    "stray | A5 | stray byte",
    "frame | A5 79 5A 7B 07 | set_sign_code 7",
    "stray | A5 79 5A | stray bytes", // a prefix that never got its command
    "frame | A5 79 5A 7B A5 | set_sign_code 165",
    "stray | 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF | stray bytes",
    "incomplete | A5 79 5A 73 FF FF | incomplete red plane", // cut off: reported at the silence
};

TEST(FrameDecoder, DecodesEveryCommandStrayBytesAndUnknownCommandsWhateverTheReads)
{
    Bytes stream;
    for (const auto& e : everything) {
        const std::size_t at = e.find('|') + 2;
        const Bytes b = fromHex(e.substr(at, e.find(" |", at) - at));
        stream.insert(stream.end(), b.begin(), b.end());
    }
    // Cut once at every place; the last round feeds byte by byte.
    for (std::size_t cut = 1; cut <= stream.size(); ++cut) {
        FrameDecoder decoder;
        std::vector<std::string> seen;
        const auto take = [&seen](const std::vector<WireEvent>& events) {
            for (const auto& e : events) seen.push_back(describe(e));
        };
        if (cut < stream.size()) {
            take(decoder.feed(std::span(stream).first(cut)));
            take(decoder.feed(std::span(stream).subspan(cut)));
        } else {
            for (const std::uint8_t& b : stream) take(decoder.feed(std::span(&b, 1)));
        }
        take(decoder.flush());
        EXPECT_EQ(seen, everything) << "cut at " << cut;
    }
}

std::string picture(const Matrix& matrix)
{
    std::string text;
    for (const auto& row : matrix) {
        for (const Dot dot : row) text += ".RGY"[int(dot)];
        text += '\n';
    }
    return text;
}

// The virtual panel's LEDs read at their centres.
std::string drawn(QWidget& leds)
{
    const QImage image = leds.grab().toImage();
    const double pitch = std::min(image.width(), image.height()) / 8.0;
    return matrixOf(
        image,
        [&](int row, int column) { return QPointF((image.width() - 8 * pitch) / 2 + (column + 0.5) * pitch, (image.height() - 8 * pitch) / 2 + (row + 0.5) * pitch).toPoint(); },
        0x404040);
}

// Decoded and drawn by the virtual panel dot for dot; without signal its dots are dimmed.
TEST(FrameDecoder, EachSignShowsItsPicture)
{
    FrameDecoder decoder;
    VirtualPanel panel("pts");
    auto* leds = panel.findChild<QWidget*>("matrix");
    for (std::size_t kind = 0; kind < frames::sign.size(); ++kind) {
        std::vector<std::string> shown;
        for (const auto& event : decoder.feed(fromHex(frames::sign[kind])))
            if (event.matrix) shown.push_back(picture(*event.matrix));
        // The display comes on with the first sign; after that the green upload already shows.
        EXPECT_EQ(shown, std::vector<std::string>(kind == 0 ? 1 : 2, frames::picture[kind])) << kind;
        panel.showMatrix(decoder.matrix());
        EXPECT_EQ(drawn(*leds), frames::picture[kind]) << kind;
    }
    panel.showSilence(true);
    std::string dimmed;
    for (int row = 0; row < 8; ++row) dimmed += "????????\n";
    EXPECT_EQ(drawn(*leds), dimmed);
}

// After the limit without a valid frame the panel is without signal, said once in the log;
// stray bytes do not count as a frame, and the next valid frame brings the signal back.
TEST(WireMonitor, NoticesSilenceAndItsEnd)
{
    WireMonitor monitor;
    QSignalSpy silence(&monitor, &WireMonitor::silenceChanged);
    QSignalSpy logged(&monitor, &WireMonitor::logged);
    monitor.setSilenceLimit(0.2);
    monitor.take(QByteArray::fromHex("A5795A71"));
    ASSERT_TRUE(silence.wait(5000));
    EXPECT_TRUE(silence.at(0).at(0).toBool());
    EXPECT_GE(monitor.secondsSinceValidFrame(), 0.2);
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d{3}  sem sinal: nenhuma trama válida há 0\\.\\d s$").match(logged.last().at(0).toString()).hasMatch())
        << logged.last().at(0).toString().toStdString();
    monitor.take(QByteArray::fromHex("010203"));
    monitor.finish();
    EXPECT_EQ(silence.count(), 1);
    monitor.take(QByteArray::fromHex("A5795A71"));
    ASSERT_EQ(silence.count(), 2);
    EXPECT_FALSE(silence.at(1).at(0).toBool());
}

// A sender killed while it had the line open leaves it in exclusive mode; the monitor frees it
// for the next sender once nobody has it open, and not while somebody does.
TEST(PtyLineTest, ExclusiveModeLeftByAKilledSenderIsCleared)
{
    PtyLine line;
    const QByteArray path = line.slavePath().toLocal8Bit();
    // -1: cannot even be opened (exclusive, for a user who is not root).
    const auto exclusive = [&] {
        const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return -1;
        int set = 0;
        ::ioctl(fd, TIOCGEXCL, &set);
        ::close(fd);
        return set;
    };
    const int sender = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(sender, 0);
    ASSERT_EQ(::ioctl(sender, TIOCEXCL), 0);
    QProcess holder; // another process with the line open
    holder.setStandardInputFile(line.slavePath());
    holder.start("sleep", {"30"});
    ASSERT_TRUE(holder.waitForStarted());
    ::close(sender);
    line.releaseAbandonedExclusion();
    EXPECT_EQ(exclusive(), 1);
    holder.kill();
    holder.waitForFinished();
    EXPECT_TRUE(QTest::qWaitFor([&] { return exclusive() == 0; }, 5000));
}

// --link replaces only a link to a pseudo-terminal or one a monitor made: never a real port's
// binding, nor a file.
TEST(MonitorLink, OnlyAPseudoTerminalsLinkIsReplaced)
{
    QTemporaryDir dir;
    const QString place = dir.filePath("com1");
    for (const auto& [target, replaced] : {std::pair{QString("/dev/null"), false}, {QString(), false}, {QString("/dev/pts/999"), true}, {QString("/proc/999999/fd/4"), true}}) {
        QFile::remove(place);
        if (target.isEmpty()) {
            QFile file(place);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        } else {
            ASSERT_TRUE(QFile::link(target, place));
        }
        QProcess monitor;
        monitor.start(PAINEL_MONITOR_PATH, {"--pty", "--link", place});
        ASSERT_TRUE(monitor.waitForStarted());
        if (replaced) {
            const QString own = "/proc/" + QString::number(monitor.processId()) + "/fd/";
            EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(place).symLinkTarget().startsWith(own); }, 10000)) << target.toStdString();
            monitor.terminate();
        }
        ASSERT_TRUE(monitor.waitForFinished(10000));
        EXPECT_EQ(monitor.exitCode(), replaced ? 0 : 1) << target.toStdString();
        if (!replaced) {
            EXPECT_EQ(QFileInfo(place).symLinkTarget(), target);
        }
    }
}

} // namespace
