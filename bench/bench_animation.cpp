// The chequered flag as the line sees it. The real program runs on a private X server (xcb);
// the operator's arrow key walks the sign buttons down to "Xadrez" (xdotool), and every tick's
// upload is time-stamped on the pseudo-terminal's master as it arrives. In the same run, a plain
// POSIX writer on a second pseudo-terminal sends the same 24 bytes on absolute 250 ms deadlines:
// the cadence this machine gives a perfect timer under its present load.
//
//   bench_animation [SECONDS]      (default 60)
#include "bench_support.h"
#include "tick_stamper.h"

#include "panel/frame_decoder.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

constexpr double tickMs = 250.0;

struct Events {
    std::vector<WireEvent> events;
    std::size_t bytes = 0;
    Clock::time_point lastAt;
};

// Reads until the display_on that ends a sign action (or the start-up).
Events readSignAction(BenchLine& line, FrameDecoder& decoder, Clock::time_point deadline)
{
    Events out;
    for (;;) {
        const auto chunk = line.next(deadline);
        if (!chunk) throw std::runtime_error("no sign action on the line");
        out.bytes += chunk->bytes.size();
        out.lastAt = chunk->at;
        bool sawSignCode = false;
        for (WireEvent& e : decoder.feed(chunk->bytes)) out.events.push_back(std::move(e));
        for (const WireEvent& e : out.events) {
            if (e.meaning.starts_with("set_sign_code")) sawSignCode = true;
            if (sawSignCode && e.meaning == "display_on") return out;
        }
    }
}

int signCode(const Events& action)
{
    for (const WireEvent& e : action.events) {
        if (e.meaning.starts_with("set_sign_code ")) return std::atoi(e.meaning.c_str() + 14);
    }
    return -1;
}

// The floor: open, write the tick's frames, drain and close on absolute deadlines.
void perfectTicks(const std::string& device, double seconds, std::atomic<bool>& failed)
{
    const std::uint8_t red[] = {0xA5, 0x79, 0x5A, 0x73, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33};
    const std::uint8_t green[] = {0xA5, 0x79, 0x5A, 0x74, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC};
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const int ticks = int(seconds * 1000.0 / tickMs) + 1;
    for (int i = 0; i < ticks; ++i) {
        next.tv_nsec += 250'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        const int fd = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || ::write(fd, red, sizeof red) != sizeof red || ::write(fd, green, sizeof green) != sizeof green)
            failed = true;
        ::tcdrain(fd);
        ::close(fd);
    }
}

void report(const std::string& name, const Cadence& program, const Cadence& floor)
{
    const auto worst = [](const Cadence& c) {
        double w = 0;
        for (double p : c.periods) w = std::max(w, std::abs(p - tickMs));
        return w;
    };
    const auto ms = [](double v, int d) { return fixed(v, d) + " ms"; };
    printRow("animation: median tick period " + name, ms(median(program.periods), 3),
             ms(median(floor.periods), 3), fixed(median(program.periods) / median(floor.periods), 4));
    const double w = worst(program);
    const double wf = worst(floor);
    printRow("animation: worst deviation from 250 ms " + name, ms(w, 3), ms(wf, 3), wf > 0 ? fixed(w / wf, 1) : "—");
    std::vector<double> dev;
    for (double p : program.periods) dev.push_back(std::abs(p - tickMs));
    std::vector<double> devFloor;
    for (double p : floor.periods) devFloor.push_back(std::abs(p - tickMs));
    std::sort(dev.begin(), dev.end());
    std::sort(devFloor.begin(), devFloor.end());
    const auto p99 = [](const std::vector<double>& v) { return v.empty() ? 0.0 : v[std::size_t(double(v.size() - 1) * 0.99)]; };
    printRow("animation: 99th percentile deviation from 250 ms " + name, ms(p99(dev), 3), ms(p99(devFloor), 3),
             p99(devFloor) > 0 ? fixed(p99(dev) / p99(devFloor), 1) : "—");
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    try {
        PrivateDisplay display;
        BenchLine line;
        BenchLine floorLine;
        ScratchHome home(line.device());
        auto env = home.environment();
        env["QT_QPA_PLATFORM"] = "xcb";
        env["DISPLAY"] = display.name();
        Child program({PROGRAM_PATH}, env);

        FrameDecoder decoder;
        (void)readSignAction(line, decoder, Clock::now() + std::chrono::seconds(20));
        const std::map<std::string, std::string> x{{"DISPLAY", display.name()}};
        std::string window = captureOutput({"xdotool", "search", "--sync", "--name", "^Tramonda"}, x);
        window = window.substr(0, window.find('\n'));
        if (window.empty()) throw std::runtime_error("the main window did not appear");
        (void)captureOutput({"xdotool", "windowfocus", "--sync", window}, x);

        // Focus starts on "Parar"; each arrow key clicks the next button down, as an
        // operator's would.
        std::vector<Events> clicks;
        Clock::time_point clicked;
        for (int presses = 0; presses < 6; ++presses) {
            // Read while xdotool is still running, so that the time stamps are the arrivals.
            Child press({"xdotool", "key", "Down"}, x);
            clicks.push_back(readSignAction(line, decoder, Clock::now() + std::chrono::seconds(10)));
            (void)press.wait(10000);
            if (signCode(clicks.back()) == 7) break;
        }
        if (clicks.empty() || signCode(clicks.back()) != 7) throw std::runtime_error("never reached Xadrez");
        clicked = clicks.back().lastAt;

        std::atomic<bool> floorFailed{false};
        std::thread floorWriter(perfectTicks, floorLine.device(), seconds, std::ref(floorFailed));
        TickStamper programTicks;
        TickStamper floorTicks;
        double firstTickMs = -1;
        const auto end = Clock::now() + std::chrono::milliseconds(int(seconds * 1000.0 + tickMs / 2));
        while (Clock::now() < end) {
            pollfd fds[2] = {{line.masterFd(), POLLIN, 0}, {floorLine.masterFd(), POLLIN, 0}};
            const int left = int(std::max<std::int64_t>(
                1, std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count()));
            if (::poll(fds, 2, left) <= 0) continue;
            if ((fds[0].revents & POLLIN) != 0) {
                if (const auto chunk = line.next(Clock::now())) {
                    if (firstTickMs < 0) firstTickMs = msBetween(clicked, chunk->at);
                    programTicks.take(*chunk);
                }
            }
            if ((fds[1].revents & POLLIN) != 0) {
                if (const auto chunk = floorLine.next(Clock::now())) floorTicks.take(*chunk);
            }
        }
        floorWriter.join();
        const bool stillRunning = program.running();
        program.kill();
        if (!stillRunning) throw std::runtime_error("the program ended during the animation (" + program.ending() + ")");
        if (floorFailed) throw std::runtime_error("the floor writer could not write");

        const Cadence& c = programTicks.cadence();
        // For a closer look: every period of both, one pair a line.
        if (const char* file = std::getenv("BENCH_PERIODS_FILE")) {
            if (FILE* out = std::fopen(file, "w")) {
                const auto& f = floorTicks.cadence().periods;
                for (std::size_t i = 0; i < c.periods.size(); ++i)
                    std::fprintf(out, "%.3f %.3f\n", c.periods[i], i < f.size() ? f[i] : 0.0);
                std::fclose(out);
            }
        }
        const std::string name = "[program on xcb vs POSIX absolute-deadline writer, " + std::to_string(c.ticks)
                                 + " ticks over " + fixed(seconds, 0) + " s]";
        report(name, c, floorTicks.cadence());
        printRow("animation: first tick after the Xadrez upload (nominal 250 ms)", fixed(firstTickMs, 1) + " ms",
                 "250.0 ms", fixed(firstTickMs / tickMs, 3));
        if (c.badTicks != 0) printRow("animation: ticks not exactly red + green plane", std::to_string(c.badTicks), "0", "—");

        const auto wire = [](std::size_t needed) {
            return std::to_string(needed) + " B = " + fixed(double(needed) * 10.0 / 9600.0 * 1000.0, 1) + " ms at 9600 baud";
        };
        std::string clickBytes;
        std::size_t clickTotal = 0;
        for (const Events& click : clicks) {
            clickBytes += (clickBytes.empty() ? "" : " ") + std::to_string(click.bytes);
            clickTotal += click.bytes;
        }
        printRow("bytes on the line: multi-colour sign click (codes 2 1 3 7 in turn)", clickBytes + " B", wire(43),
                 fixed(double(clickTotal) / double(clicks.size()) / 43.0, 2));
        const double perTick = c.ticks > 0 ? double(c.bytes) / double(c.ticks) : 0;
        printRow("bytes on the line: animation tick (mean of " + std::to_string(c.ticks) + ")", fixed(perTick, 1) + " B",
                 wire(TickStamper::tickBytes), fixed(perTick / double(TickStamper::tickBytes), 2));
        // At 9600 baud a tick needs a tenth of its period; the line itself is never the limit.
        printRow("animation: line occupancy at 9600 baud", fixed(double(TickStamper::tickBytes) * 10.0 / 9600.0 * 1000.0 / tickMs * 100, 1) + " %",
                 "100 %", "—");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_animation: %s\n", e.what());
        return 1;
    }
    return 0;
}
