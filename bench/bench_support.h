#pragma once

// Shared by the process-level benchmarks: a pseudo-terminal read at the panel's end with a
// monotonic time stamp on every chunk, child processes with their own environment, a scratch
// home for the program, and a private X server.

#include "pty_pair.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

[[nodiscard]] double msBetween(Clock::time_point from, Clock::time_point to);

struct Chunk {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
};

// A raw pseudo-terminal standing in for the panel's line.
class BenchLine {
public:
    [[nodiscard]] const std::string& device() const { return pty_.slavePath(); }
    [[nodiscard]] int masterFd() const { return pty_.masterFd(); }
    // The next chunk the sender wrote, stamped when the read returned; nothing once the
    // deadline has passed.
    [[nodiscard]] std::optional<Chunk> next(Clock::time_point deadline);
    // Reads until `count` bytes have arrived in all; false if the deadline passed first.
    [[nodiscard]] bool readAtLeast(std::size_t count, Clock::time_point deadline, std::vector<std::uint8_t>& into);

private:
    PtyPair pty_;
};

// HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR of one run of the program, with COM1 linked.
class ScratchHome {
public:
    explicit ScratchHome(const std::string& com1Device, const std::string& preferences = {});
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    [[nodiscard]] std::map<std::string, std::string> environment() const;

private:
    std::string root_;
};

class Child {
public:
    // argv[0] is looked up in PATH; `environment` is added to (and overrides) this process's.
    Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
          int stdoutFd = -1);
    // Takes charge of a process already started.
    explicit Child(pid_t adopted) : pid_(adopted) {}
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] bool running();
    // How it ended, once running() has said it has: "exit code N" or "signal N".
    [[nodiscard]] const std::string& ending() const { return ending_; }
    // VmHWM from /proc: the peak resident set so far, in KiB; -1 when unreadable.
    [[nodiscard]] long peakResidentKiB() const;
    // SIGKILL and reap.
    void kill();
    // SIGTERM, so that it can clean up after itself, and reap; SIGKILL if it takes too long.
    void stop();
    // Waits for a normal end; the exit status, or -1 on a signal or time-out.
    int wait(int timeoutMs);

private:
    void ended(int status);

    pid_t pid_ = -1;
    std::string ending_;
};

// Runs a command to its end and returns what it printed; empty on failure.
[[nodiscard]] std::string captureOutput(const std::vector<std::string>& argv,
                                        const std::map<std::string, std::string>& environment);

// An X server of our own (Xvfb), so that the program runs with a real platform plugin.
class PrivateDisplay {
public:
    // Throws std::runtime_error when Xvfb cannot be started.
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;
    [[nodiscard]] const std::string& name() const { return name_; }

private:
    std::optional<Child> server_;
    std::string name_;
};

[[nodiscard]] double median(std::vector<double> values);

// One line of the figures table: | figure | measured | floor | ratio |
void printRow(const std::string& figure, const std::string& measured, const std::string& floor,
              const std::string& ratio);
[[nodiscard]] std::string fixed(double value, int decimals);
