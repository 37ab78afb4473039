#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

namespace {

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<std::int64_t>(0, left));
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overrides)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos && overrides.contains(entry.substr(0, eq))) continue;
        env.push_back(entry);
    }
    for (const auto& [key, value] : overrides) env.push_back(key + '=' + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
            int stdoutFd, int extraFd = -1)
{
    std::vector<std::string> args = argv;
    std::vector<std::string> env = mergedEnvironment(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // The programs' warnings (no session bus, offscreen size hints) would only clutter the table.
    if (std::getenv("BENCH_CHILD_STDERR") == nullptr)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (extraFd >= 0) posix_spawn_file_actions_adddup2(&actions, extraFd, 3);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args.front().c_str(), &actions, nullptr, pointers(args).data(),
                                pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error(args.front() + ": " + std::strerror(rc));
    return pid;
}

} // namespace

std::optional<Chunk> BenchLine::next(Clock::time_point deadline)
{
    for (;;) {
        pollfd pfd{masterFd(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        const auto at = Clock::now();
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(masterFd(), buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        return Chunk{at, std::vector<std::uint8_t>(buffer, buffer + n)};
    }
}

bool BenchLine::readAtLeast(std::size_t count, Clock::time_point deadline, std::vector<std::uint8_t>& into)
{
    while (into.size() < count) {
        auto chunk = next(deadline);
        if (!chunk) return false;
        into.insert(into.end(), chunk->bytes.begin(), chunk->bytes.end());
    }
    return true;
}

ScratchHome::ScratchHome(const std::string& com1Device, const std::string& preferences)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "painel-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    const auto config = std::filesystem::path(root_) / "config" / "painel-sinaletico";
    std::filesystem::create_directories(config);
    std::filesystem::create_directory(std::filesystem::path(root_) / "runtime");
    std::filesystem::permissions(std::filesystem::path(root_) / "runtime", std::filesystem::perms::owner_all);
    std::filesystem::create_symlink(com1Device, config / "com1");
    if (!preferences.empty()) std::ofstream(config / "pref.vyr", std::ios::binary) << preferences;
}

ScratchHome::~ScratchHome()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::map<std::string, std::string> ScratchHome::environment() const
{
    return {{"HOME", root_}, {"XDG_CONFIG_HOME", root_ + "/config"}, {"XDG_RUNTIME_DIR", root_ + "/runtime"}};
}

Child::Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
             int stdoutFd)
    : pid_(spawn(argv, environment, stdoutFd))
{
}

Child::~Child()
{
    if (pid_ > 0) kill();
}

bool Child::running()
{
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        ended(status);
        return false;
    }
    return true;
}

void Child::ended(int status)
{
    pid_ = -1;
    ending_ = WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                                : "signal " + std::to_string(WTERMSIG(status));
}

long Child::peakResidentKiB() const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

void Child::kill()
{
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

void Child::stop()
{
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (wait(2000) == -1) kill();
}

int Child::wait(int timeoutMs)
{
    if (pid_ <= 0) return -1;
    // A descriptor that turns readable when the process ends: waiting needs no polling loop.
    const int ends = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (ends >= 0) {
        pollfd pfd{ends, POLLIN, 0};
        while (::poll(&pfd, 1, timeoutMs) < 0 && errno == EINTR) {
        }
        ::close(ends);
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return -1;
    ended(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string captureOutput(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& environment)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {};
    std::string text;
    try {
        Child child(argv, environment, out[1]);
        ::close(out[1]);
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(n));
        if (child.wait(20000) != 0) text.clear();
    } catch (const std::runtime_error&) {
        ::close(out[1]);
        text.clear();
    }
    ::close(out[0]);
    return text;
}

PrivateDisplay::PrivateDisplay()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    // Xvfb writes the display number it chose to descriptor 3 once it accepts clients.
    const pid_t pid = spawn({"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, {},
                            -1, fds[1]);
    ::close(fds[1]);
    server_.emplace(pid);
    std::string number;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (number.find('\n') == std::string::npos) {
        pollfd pfd{fds[0], POLLIN, 0};
        char c[16];
        if (::poll(&pfd, 1, remainingMs(deadline)) <= 0) break;
        const ssize_t n = ::read(fds[0], c, sizeof c);
        if (n <= 0) break;
        number.append(c, std::size_t(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
    name_ = ':' + number.substr(0, number.find('\n'));
}

// A server killed outright would leave its lock and socket behind for the next one to trip on.
PrivateDisplay::~PrivateDisplay() { server_->stop(); }

double median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void printRow(const std::string& figure, const std::string& measured, const std::string& floor,
              const std::string& ratio)
{
    std::printf("| %s | %s | %s | %s |\n", figure.c_str(), measured.c_str(), floor.c_str(), ratio.c_str());
    std::fflush(stdout);
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}
