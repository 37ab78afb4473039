// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line_port.h"

#include <QString>

// The product's serial port on Windows, through the Win32 calls themselves: a handle opened
// without overlapped I/O, so that no wait for incoming characters is ever pending (the panel
// never answers, and Wine keeps a thread spinning for such a wait after the close). Writes return
// once the driver has the bytes or the deadline passes; closing waits until they have left
// (FlushFileBuffers). The deadline is the one the Unix port keeps: the wire time of what was
// written since the open plus a margin.
class WinSerialPort final : public LinePort {
public:
    WinSerialPort() = default;
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    [[nodiscard]] bool isOpen() const override { return handle_ != nullptr; }
    void write(std::span<const std::uint8_t> bytes) override;

private:
    void open() override;
    void close() override;
    void applySettings() override;
    std::size_t readBack(std::span<std::uint8_t> buffer, qint64 waitMs) override;

    void* handle_ = nullptr; // the port's HANDLE while open
};
