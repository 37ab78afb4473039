// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/echo_check.h"
#include "panel/port_settings.h"

#include <cstdint>
#include <span>
#include <string>

// The few things the program needs of a serial port. Failures throw LineException.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Selects the port the next open uses: 1 = COM1, 2 = COM2.
    virtual void setPortNumber(std::int16_t number) = 0;
    // Applies to every later open.
    virtual void setSettings(const PortSettings& settings) = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    // Closing returns only once every written byte has reached the line (or throws).
    virtual void setOpen(bool open) = 0;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    // With the echo on, the next opens read the line too, discarding what waits there, and each
    // close waits a little for every byte written to come back. A port that cannot be opened to
    // read does not open at all.
    virtual void setEcho(bool on) = 0;
    // How the echo of what was written since the last open came back, once the port is closed.
    [[nodiscard]] virtual EchoCheck lastEcho() const = 0;
};
