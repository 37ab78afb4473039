// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/port_settings.h"
#include "panel/serial_port.h"
#include "serial/send_deadline.h"

#include <QString>

// The product's serial port on Windows, through the Win32 calls themselves: a handle opened
// without overlapped I/O, so that no wait for incoming characters is ever pending (the panel
// never answers, and Wine keeps a thread spinning for such a wait after the close). Writes return
// once the driver has the bytes or the deadline passes; closing waits until they have left
// (FlushFileBuffers). The deadline is the one the Unix port keeps: the wire time of what was
// written since the open plus a margin.
class WinSerialPort final : public SerialPort {
public:
    WinSerialPort() = default;
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    void setPortNumber(std::int16_t number) override;
    void setSettings(const PortSettings& settings) override;
    [[nodiscard]] bool isOpen() const override { return handle_ != nullptr; }
    void setOpen(bool open) override;
    void write(std::span<const std::uint8_t> bytes) override;

private:
    void open();
    void close();
    void applySettings();
    [[noreturn]] void failWrite(const QString& reason);
    [[noreturn]] void failStalled();
    [[nodiscard]] qint64 msLeft() const;

    void* handle_ = nullptr; // the port's HANDLE while open
    std::int16_t number_ = 1;
    QString device_; // the device of the last open, for the reasons of failures
    PortSettings settings_;
    SendDeadline deadline_;
    bool abandoned_ = false; // a send since the open failed
};
