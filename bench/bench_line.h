// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fake_serial_port.h"
#include "pty_pair.h"
#include "session/panel_session.h"
#include "widgets/panel_preview.h"

#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A pseudo-terminal standing in for the panel, reachable as COM1 through a configuration folder
// of its own unless told otherwise, with a reader thread that drains the line as bytes arrive and notes when each
// read ended.
class BenchLine {
public:
    explicit BenchLine(bool asCom1 = true);
    ~BenchLine();
    BenchLine(const BenchLine&) = delete;
    BenchLine& operator=(const BenchLine&) = delete;

    [[nodiscard]] const std::string& device() const { return pty_.slavePath(); }
    [[nodiscard]] std::size_t received() const { return received_; }
    // A paused line is not read: its far end has stopped, and its buffer fills up.
    void pause(bool paused) { paused_ = paused; }
    // A looped cable: every byte read goes back at once.
    void setEcho(bool on) { echo_ = on; }
    // For each mark, the time (seconds on the steady clock) at which the count of bytes
    // received first reached it.
    [[nodiscard]] std::vector<double> timesReaching(const std::vector<std::size_t>& marks) const;

private:
    QTemporaryDir home_;
    PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> echo_{false};
    std::atomic<std::size_t> received_{0};
    mutable std::mutex mutex_;
    std::vector<std::pair<double, std::size_t>> reads_;
    std::thread reader_;
};

// Seconds on the steady clock.
[[nodiscard]] double now();

// The median and the 99th percentile of times in milliseconds.
struct Spread {
    double median, p99;
};
[[nodiscard]] Spread spreadOf(std::vector<double> ms);

// The program's session on `port`, drawing on the window's preview, its start-up sent, as every
// benchmark drives it; the journal, when given, keeps every action as in the program.
struct BenchDisplay {
    FakeStatusLine status;
    PanelPreview preview;
    PanelSession session;

    // The defaults: no preferences file is read.
    explicit BenchDisplay(SerialPort& port, Journal* journal = nullptr) : session(port, status, preview, {}, journal) { session.start(); }
    // The cable's echo on port `comPort`, as "Portas série…" sets it, without a file.
    void setEcho(std::int16_t comPort, bool on)
    {
        MoreSettings more = session.moreSettings();
        more.echo.at(std::size_t(comPort - 1)) = on;
        session.setMoreSettings(more);
    }
};
