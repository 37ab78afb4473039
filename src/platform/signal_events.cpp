// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/signal_events.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>

namespace {

// One more than the pipe each signal's handler writes to; 0 for none.
std::array<std::atomic<int>, NSIG> writeEnds{};

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const int end = writeEnds[static_cast<std::size_t>(number)].load() - 1;
    const auto byte = static_cast<unsigned char>(number);
    if (end >= 0) [[maybe_unused]]
        const auto n = ::write(end, &byte, 1);
    errno = saved;
}

} // namespace

std::vector<int> SignalEvents::endings() { return {SIGTERM, SIGHUP, SIGINT}; }

SignalEvents::SignalEvents(std::vector<int> numbers, QObject* parent) : QObject(parent), numbers_(std::move(numbers))
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalEvents::drain);
    for (const int number : numbers_) {
        writeEnds[static_cast<std::size_t>(number)] = pipe_[1] + 1;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

SignalEvents::~SignalEvents()
{
    for (const int number : numbers_) {
        ::signal(number, SIG_DFL);
        writeEnds[static_cast<std::size_t>(number)] = 0;
    }
    delete notifier_;
    for (const int end : pipe_)
        if (end >= 0) ::close(end);
}

void SignalEvents::drain()
{
    unsigned char numbers[16];
    for (ssize_t n; (n = ::read(pipe_[0], numbers, sizeof numbers)) > 0;)
        for (ssize_t i = 0; i < n; ++i) emit received(numbers[i]);
}
#else
std::vector<int> SignalEvents::endings() { return {}; }

SignalEvents::SignalEvents(std::vector<int> numbers, QObject* parent) : QObject(parent) { Q_UNUSED(numbers); }

SignalEvents::~SignalEvents() = default;

void SignalEvents::drain() {}
#endif
