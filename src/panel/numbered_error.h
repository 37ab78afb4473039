// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

// Every failure of the panel link carries a number, as the status-line texts are chosen by it.
class NumberedError : public std::runtime_error {
public:
    NumberedError(int number, const std::string& detail)
        : std::runtime_error(detail), number_(number) {}

    [[nodiscard]] int number() const noexcept { return number_; }

private:
    int number_;
};

namespace errnum {
inline constexpr int invalidArgument = 5;
inline constexpr int overflow = 6;
inline constexpr int subscriptOutOfRange = 9;
inline constexpr int invalidPropertyValue = 380;
inline constexpr int invalidPortNumber = 8002;
inline constexpr int portAlreadyOpen = 8005;
inline constexpr int hardwareNotAvailable = 8010;
inline constexpr int couldNotOpenDevice = 8012;
inline constexpr int portNotOpen = 8018;
// Bytes handed to the port did not reach the line: the device went away or stalled.
inline constexpr int writeFailed = 8021;
} // namespace errnum
