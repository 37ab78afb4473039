// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct PortSettings {
    std::int32_t baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    friend bool operator==(const PortSettings&, const PortSettings&) = default;
};

// Parses "baud,parity,data,stop" (blanks around the fields allowed). Throws error 380 on
// anything it cannot use.
[[nodiscard]] PortSettings parsePortSettings(std::string_view text);

// The settings string for a baud rate: the number with a blank where a minus sign would
// stand, then ",N,8,1".
[[nodiscard]] std::string settingsString(std::int16_t baud);

// Seconds the given number of bytes occupy on the line (start, data, parity and stop bits).
[[nodiscard]] double wireSeconds(const PortSettings& settings, std::int64_t bytes);
