// Start-up to the first byte on the line: the real program against a bare Qt window that writes
// one byte through QSerialPort once shown, each on a fresh pseudo-terminal, runs interleaved.
// Also the peak memory of both, and the bytes of the start-up in either colour mode.
//
//   bench_startup [RUNS]        (default 15; offscreen, then xcb on a private Xvfb if it starts)
#include "bench_support.h"

#include "panel/frame_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

struct Run {
    double firstByteMs = 0;
    std::size_t bytes = 0;
    long peakKiB = 0;
};

// The program's start-up is over with the display_on that follows the first sign code.
bool startUpComplete(FrameDecoder& decoder, std::span<const std::uint8_t> chunk, bool& sawSignCode)
{
    for (const WireEvent& e : decoder.feed(chunk)) {
        if (e.kind != WireEvent::Kind::Frame) throw std::runtime_error("unexpected bytes: " + hexBytes(e.bytes));
        if (e.meaning.starts_with("set_sign_code")) sawSignCode = true;
        if (sawSignCode && e.meaning == "display_on") return true;
    }
    return false;
}

Run runOnce(const std::vector<std::string>& argv, bool isProgram, const std::map<std::string, std::string>& platform,
            const std::string& preferences = {})
{
    BenchLine line;
    ScratchHome home(line.device(), preferences);
    auto env = home.environment();
    env.insert(platform.begin(), platform.end());
    std::vector<std::string> args = argv;
    if (!isProgram) args.push_back(line.device());

    const auto started = Clock::now();
    Child child(args, env);
    const auto deadline = started + std::chrono::seconds(20);
    Run run;
    FrameDecoder decoder;
    bool sawSignCode = false;
    for (bool done = false; !done;) {
        const auto chunk = line.next(deadline);
        if (!chunk) throw std::runtime_error(args.front() + ": nothing more on the line after "
                                             + std::to_string(run.bytes) + " bytes");
        if (run.bytes == 0) run.firstByteMs = msBetween(started, chunk->at);
        run.bytes += chunk->bytes.size();
        done = isProgram ? startUpComplete(decoder, chunk->bytes, sawSignCode) : true;
    }
    run.peakKiB = child.peakResidentKiB();
    child.kill();
    return run;
}

std::string ms(double v) { return fixed(v, 1) + " ms"; }
std::string mib(double kib) { return fixed(kib / 1024.0, 1) + " MiB"; }

void measure(const std::string& platformName, const std::map<std::string, std::string>& platform, int runs)
{
    const std::vector<std::string> program{PROGRAM_PATH};
    const std::vector<std::string> bare{BARE_WINDOW_PATH};
    const std::vector<std::string> labelled{BARE_WINDOW_PATH, "--label"};
    // One of each first, so that neither pays alone for a cold page cache.
    (void)runOnce(program, true, platform);
    (void)runOnce(bare, false, platform);
    std::vector<double> programFirst, bareFirst, programPeak, barePeak, labelledFirst, labelledPeak;
    for (int i = 0; i < runs; ++i) {
        const Run p = runOnce(program, true, platform);
        const Run b = runOnce(bare, false, platform);
        const Run l = runOnce(labelled, false, platform);
        labelledFirst.push_back(l.firstByteMs);
        labelledPeak.push_back(double(l.peakKiB));
        programFirst.push_back(p.firstByteMs);
        programPeak.push_back(double(p.peakKiB));
        bareFirst.push_back(b.firstByteMs);
        barePeak.push_back(double(b.peakKiB));
    }
    const auto range = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return " (" + fixed(v.front(), 1) + "–" + fixed(v.back(), 1) + ")";
    };
    const std::string n = " [" + platformName + ", median of " + std::to_string(runs) + "]";
    printRow("start-up to first byte, program vs bare Qt window" + n, ms(median(programFirst)) + range(programFirst),
             ms(median(bareFirst)) + range(bareFirst), fixed(median(programFirst) / median(bareFirst), 2));
    printRow("peak memory VmHWM, program vs bare Qt window" + n, mib(median(programPeak)), mib(median(barePeak)),
             fixed(median(programPeak) / median(barePeak), 2));
    // Where the gap goes: the same bare window with one text label, so with the font database.
    printRow("  attribution: bare window + one QLabel, first byte vs bare" + n,
             ms(median(labelledFirst)) + range(labelledFirst), ms(median(bareFirst)),
             fixed(median(labelledFirst) / median(bareFirst), 2));
    printRow("  attribution: bare window + one QLabel, VmHWM vs bare" + n, mib(median(labelledPeak)),
             mib(median(barePeak)), fixed(median(labelledPeak) / median(barePeak), 2));
}

// What the start-up puts on the line in each colour mode, against what the wire format needs:
// LED times and display_on (14 bytes), then one sign action (43 bytes in either mode).
void startUpBytes()
{
    constexpr std::size_t panelStartUp = 14;
    constexpr std::size_t signAction = 43;
    const std::map<std::string, std::string> offscreen{{"QT_QPA_PLATFORM", "offscreen"}};
    const Run multi = runOnce({PROGRAM_PATH}, true, offscreen);
    const Run mono = runOnce({PROGRAM_PATH}, true, offscreen, "COM=1\r\nMODE= 2\r\nCOLOUR= 255\r\n");
    const auto row = [](const std::string& figure, std::size_t seen, std::size_t needed) {
        printRow("bytes on the line: " + figure, std::to_string(seen) + " B",
                 std::to_string(needed) + " B = " + fixed(double(needed) * 10.0 / 9600.0 * 1000.0, 1) + " ms at 9600 baud",
                 fixed(double(seen) / double(needed), 2));
    };
    row("start-up, multi-colour", multi.bytes, panelStartUp + signAction);
    row("mono-colour sign (a MODE= 2 start-up less its first 14)", mono.bytes - panelStartUp, signAction);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    try {
        startUpBytes();
        measure("offscreen", {{"QT_QPA_PLATFORM", "offscreen"}}, runs);
        try {
            PrivateDisplay display;
            measure("xcb on Xvfb", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.name()}}, runs);
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "bench_startup: no X server (%s); xcb figures skipped\n", e.what());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_startup: %s\n", e.what());
        return 1;
    }
    return 0;
}
