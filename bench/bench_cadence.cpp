// SPDX-License-Identifier: GPL-3.0-or-later
// The chequered flag's cadence on the line: the sign display with its real timer and the
// product's port on a pseudo-terminal, each tick stamped when its last byte is read; in the same
// run, a POSIX writer sends the same 24 bytes to a second pseudo-terminal on absolute 250 ms
// deadlines (clock_nanosleep), the floor. The flag again as long on COM2, a line that loops every
// byte back, with the cable's echo on: each tick then waits for its echo and compares it. Then the
// window's event loop is timed while the flag goes on, first on the healthy line, then with the
// line's far end stopped and its buffer full.
#include "bench_line.h"
#include "fake_serial_port.h"
#include "serial/port_devices.h"
#include "serial/qt_serial_port.h"
#include "stalled_line.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t tickBytes = 24;

struct Cadence {
    double median, worst, p99; // ms: the median period, and deviations from 250 ms
    std::size_t ticks;
};

// Ticks are the 24-byte steps after `offset` bytes.
Cadence cadenceOf(const BenchLine& line, std::size_t offset)
{
    std::vector<std::size_t> marks;
    for (std::size_t m = offset + tickBytes; m <= line.received(); m += tickBytes) marks.push_back(m);
    const std::vector<double> times = line.timesReaching(marks);
    std::vector<double> periods, deviations;
    for (std::size_t i = 1; i < times.size(); ++i) {
        periods.push_back((times[i] - times[i - 1]) * 1000);
        deviations.push_back(std::abs(periods.back() - 250));
    }
    if (periods.empty()) return {};
    std::sort(periods.begin(), periods.end());
    std::sort(deviations.begin(), deviations.end());
    return {periods[periods.size() / 2], deviations.back(), deviations[deviations.size() * 99 / 100], times.size()};
}

struct Latency {
    double blockedPercent; // of the time, the event loop was late by more than its 10 ms probe
    double longestMs;
};

Latency eventLoopLatency(int seconds)
{
    const EventLoopProbe probe;
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return {100.0 * double(probe.blocked) / double(probe.clock.elapsed()), double(probe.longest)};
}

void row(const char* figure, double measured, double floor) { std::printf("| %s | %.3f ms | %.3f ms | %.2f |\n", figure, measured, floor, measured / floor); }

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchLine flagLine;
    BenchLine posixLine(false);
    BenchLine echoLine(false);
    echoLine.setEcho(true);
    QFile::link(QString::fromStdString(echoLine.device()), configFolder() + "/com2");

    QtSerialPort port;
    BenchDisplay rig(port);
    rig.session.chooseSign(Sign::Chequer, Origin::Mouse);

    std::atomic<bool> stop{false};
    std::thread posix([&] {
        const int fd = ::open(posixLine.device().c_str(), O_WRONLY | O_NOCTTY);
        const Bytes tick = fromHex(frames::chequerTick2);
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        while (!stop) {
            deadline.tv_nsec += 250'000'000;
            if (deadline.tv_nsec >= 1'000'000'000) deadline.tv_sec += 1, deadline.tv_nsec -= 1'000'000'000;
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
            (void)::write(fd, tick.data(), tick.size());
        }
        ::close(fd);
    });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    QApplication::exec();
    // The same flag with the echo, on its own line.
    PanelSettings settings = rig.session.settings();
    settings.comPort = 2;
    rig.session.setPreferences(settings);
    rig.setEcho(2, true);
    rig.session.chooseSign(Sign::Chequer, Origin::Mouse);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    QApplication::exec();
    const bool echoed = rig.session.echo() == Echo::Confirmed;
    settings.comPort = 1;
    rig.session.setPreferences(settings);
    stop = true;
    posix.join();

    // The start-up (57 bytes) and the flag's first click (43) come before the ticks.
    const Cadence flag = cadenceOf(flagLine, 57 + 43);
    const Cadence floor = cadenceOf(posixLine, 0);
    const Cadence withEcho = cadenceOf(echoLine, 43);
    char figure[128];
    std::snprintf(figure, sizeof figure, "animation, median tick period over %d s (%zu ticks) vs POSIX timer", seconds, flag.ticks);
    row(figure, flag.median, floor.median);
    row("animation, worst deviation from 250 ms vs POSIX timer", flag.worst, floor.worst);
    row("animation, 99th percentile deviation vs POSIX timer", flag.p99, floor.p99);
    row("animation with the cable's echo, median tick period vs without", withEcho.median, flag.median);
    row("animation with the cable's echo, 99th percentile deviation vs without", withEcho.p99, flag.p99);
    row("animation with the cable's echo, worst deviation vs without", withEcho.worst, flag.worst);
    const double bytesPerTick = double(flagLine.received() - 100) / double(std::max<std::size_t>(flag.ticks, 1));
    if (flag.ticks < 2 || floor.ticks < 2 || withEcho.ticks < 2 || !echoed) return 1;
    std::printf("| bytes: animation tick | %.0f B | 24 B = 25.0 ms wire | %.2f |\n", bytesPerTick, bytesPerTick / 24);
    const int stallSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const Latency healthy = eventLoopLatency(stallSeconds);
    flagLine.pause(true);
    auto stuck = std::make_unique<StuckFarEnd>(flagLine.device());
    const Latency stalled = eventLoopLatency(stallSeconds);
    stuck.reset();
    std::printf("| UI thread blocked while the flag animates, stalled line vs healthy (%d s each) | %.1f %% | %.1f %% | — |\n", stallSeconds,
                stalled.blockedPercent, healthy.blockedPercent);
    std::printf("| longest UI block, stalled line vs healthy | %.0f ms | %.0f ms | — |\n", stalled.longestMs, healthy.longestMs);
    return 0;
}
