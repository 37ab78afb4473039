#include "fake_serial_port.h"
#include "panel/port_devices.h"
#include "panel/qt_serial_port.h"
#include "pty_pair.h"
#include "signs/sign_display.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

class LastStatus final : public StatusLine {
public:
    void setPanelText(int, const std::string& t) override { text = t; }
    void setPanelToolTip(int, const std::string&) override {}
    std::string text;
};

// A pseudo-terminal standing in for the panel, reachable as COM1, with a reader that drains
// the other end as fast as bytes arrive.
class PanelLine {
public:
    PanelLine()
    {
        qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit());
        QDir().mkpath(configFolder());
        QFile::link(QString::fromStdString(pty_.slavePath()), configFolder() + QStringLiteral("/com1"));
        reader_ = std::thread([this] {
            // One chunk at a time, so the count is current whenever it is looked at.
            while (!stop_) received_ += pty_.read(1, 5).size();
        });
    }
    ~PanelLine()
    {
        stop_ = true;
        reader_.join();
    }
    PanelLine(const PanelLine&) = delete;
    PanelLine& operator=(const PanelLine&) = delete;

    [[nodiscard]] const std::string& device() const { return pty_.slavePath(); }
    [[nodiscard]] std::size_t received() const { return received_; }

private:
    QTemporaryDir home_;
    PtyPair pty_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> received_{0};
};

PanelLine* line = nullptr;

// What a multi-colour "Parar" click hands to the port, write by write.
std::vector<Bytes> stopSignWrites()
{
    FakeSerialPort port;
    LastStatus status;
    PanelSettings settings;
    PanelLink link(port, status, settings);
    PanelCommands commands(port);
    PanelPreview preview;
    SignDisplay display(link, commands, preview, settings);
    display.initPanel();
    port.clearRecord();
    display.Option1_Click(0);
    return port.writes;
}

// From the start of the click handler until the port is closed and drained.
void BM_SignClick(benchmark::State& state)
{
    QtSerialPort port;
    LastStatus status;
    PanelSettings settings;
    PanelLink link(port, status, settings);
    link.initSerial(1, 9600);
    PanelCommands commands(port);
    PanelPreview preview;
    SignDisplay display(link, commands, preview, settings);
    display.initPanel();
    for (auto _ : state) display.Option1_Click(0);
    if (status.text != blankStatusText) state.SkipWithError(("port failed: " + status.text).c_str());
    state.SetBytesProcessed(state.iterations() * 43);
}

// The floor: the same bytes to the same device by open, write, tcdrain and close.
void writeAndDrain(benchmark::State& state, const std::vector<Bytes>& writes)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(line->device().c_str(), O_WRONLY | O_NOCTTY);
        if (fd < 0) {
            state.SkipWithError("open failed");
            break;
        }
        for (const auto& w : writes) bytes += std::size_t(::write(fd, w.data(), w.size()));
        ::tcdrain(fd);
        ::close(fd);
    }
    state.SetBytesProcessed(std::int64_t(bytes));
}

void BM_PosixFloor(benchmark::State& state)
{
    Bytes all;
    for (const auto& w : stopSignWrites()) all.insert(all.end(), w.begin(), w.end());
    writeAndDrain(state, {all});
}

// The same floor with the program's own write granularity: one call per frame and per line byte.
void BM_PosixFloorPerWrite(benchmark::State& state) { writeAndDrain(state, stopSignWrites()); }

// What the product's port does on the device, system call for system call, without the lock
// file: exclusive open, the line settings, one write per frame and line byte, drain, the old
// settings back, close. The figure a port layer on plain POSIX calls would reach.
void BM_PosixAsThePortDoesWithoutLockFile(benchmark::State& state)
{
    const std::vector<Bytes> writes = stopSignWrites();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(line->device().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        termios saved{};
        ::tcgetattr(fd, &saved);
        termios raw = saved;
        ::cfmakeraw(&raw);
        ::cfsetispeed(&raw, B9600);
        ::cfsetospeed(&raw, B9600);
        raw.c_cflag |= CLOCAL | CREAD;
        ::tcsetattr(fd, TCSANOW, &raw);
        for (const auto& w : writes) bytes += std::size_t(::write(fd, w.data(), w.size()));
        int queued = 0;
        ::ioctl(fd, TIOCOUTQ, &queued);
        ::tcdrain(fd);
        ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
    }
    state.SetBytesProcessed(std::int64_t(bytes));
}

// Qt SerialPort's UUCP lock file alone, taken and dropped as each open and close does: in the
// folder it picks (/var/lock), and on a tmpfs for comparison.
void BM_LockFile(benchmark::State& state, const char* folder)
{
    const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..painel-bench");
    for (auto _ : state) {
        QLockFile lock(path);
        if (!lock.tryLock(0)) {
            state.SkipWithError("could not take the lock");
            break;
        }
        lock.unlock();
    }
}

// The preview's share of a click: one redraw of the whole matrix.
void BM_PreviewDraw(benchmark::State& state)
{
    SignPatterns patterns;
    initPatterns(patterns);
    PanelPreview preview;
    for (auto _ : state) preview.drawPattern(patterns.patternStop);
}

} // namespace

BENCHMARK(BM_SignClick)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PosixFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PosixFloorPerWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PosixAsThePortDoesWithoutLockFile)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LockFile, var_lock, "/var/lock")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LockFile, dev_shm, "/dev/shm")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PreviewDraw)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv)
{
    // The preview is a widget; the benchmark needs no screen to draw it on.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    PanelLine panel;
    line = &panel;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fprintf(stderr, "bytes read from the line: %zu\n", panel.received());
    return 0;
}
