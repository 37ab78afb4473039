// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The cable's echo: where the panel's end of the cable loops the line back to the adapter's
// receive pin, every byte that reached the panel's connector comes back. What came back of a
// send tells whether it travelled the whole cable.
enum class Echo {
    Off,        // the port's echo is not on: nothing is read
    Confirmed,  // every byte came back, in order
    Missing,    // nothing came back: the cable, or the panel's connector
    Different,  // bytes came back changed: noise, or a converter at another speed
    Incomplete, // only the first bytes came back
};

// The word each outcome has wherever it is shown: "confirmado", "sem eco", "diferente",
// "incompleto", "desligado".
[[nodiscard]] std::string echoWord(Echo echo);
// The echo was on and did not prove that the send reached the panel's end of the cable.
[[nodiscard]] constexpr bool echoFailed(Echo echo) { return echo != Echo::Off && echo != Echo::Confirmed; }

// How the echo of one send came back.
struct EchoCheck {
    Echo echo = Echo::Off;
    std::size_t written = 0;  // bytes sent
    std::size_t returned = 0; // bytes read back, the first of them kept
    std::string detail;       // where the echo differed, for the operator
};

// Holds what a send wrote and what came back, and tells them apart. What comes back beyond what
// was written is counted, not kept: a line that echoes garbage for ever cannot grow it.
class EchoComparison {
public:
    static constexpr std::size_t maxKept = 64 * 1024;

    void start();
    void wrote(std::span<const std::uint8_t> bytes);
    void returned(std::span<const std::uint8_t> bytes);
    // Every byte written has come back, or more: nothing more is worth waiting for.
    [[nodiscard]] bool complete() const { return returned_.size() >= written_.size(); }
    [[nodiscard]] std::size_t writtenCount() const { return written_.size(); }
    [[nodiscard]] EchoCheck verdict() const;

private:
    std::vector<std::uint8_t> written_;
    std::vector<std::uint8_t> returned_;
    std::size_t extra_ = 0; // returned beyond what was written
};
