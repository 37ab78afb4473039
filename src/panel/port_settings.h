// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct PortSettings {
    std::int32_t baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const PortSettings&, const PortSettings&) = default;
};

// Seconds the given number of bytes occupy on the line (start, data, parity and stop bits).
[[nodiscard]] double wireSeconds(const PortSettings& settings, std::int64_t bytes);

// Port n as the operator knows it: "COM1".
[[nodiscard]] inline std::string portName(int number) { return "COM" + std::to_string(number); }
