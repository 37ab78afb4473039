// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

// Why the line or a command failed. The numbers are the serial control's own, as the program's
// first design gave them.
enum class LineError {
    InvalidArgument = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    InvalidPortNumber = 8002,
    PortAlreadyOpen = 8005,
    HardwareNotAvailable = 8010,
    CouldNotOpenDevice = 8012,
    PortNotOpen = 8018,
    // Bytes handed to the port did not reach the line: the device went away or stalled.
    WriteFailed = 8021,
};

// Every failure of the panel link: its kind, and the detail the operator is shown.
class LineException : public std::runtime_error {
public:
    LineException(LineError error, const std::string& detail) : std::runtime_error(detail), error_(error) {}

    [[nodiscard]] LineError error() const noexcept { return error_; }

private:
    LineError error_;
};
