// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/port_settings.h"
#include "panel/serial_port.h"
#include "serial/send_deadline.h"

#include <QSerialPort>

// The product's serial port on Unix. Bytes are pushed to the device as they are written, so a device
// that has gone away fails the write; closing waits until everything written has left. Every
// wait ends by one deadline: the wire time of what was written since the open plus a margin.
// A line that stops taking bytes fails the send by then, its queued output is dropped and the
// port closed, so a stalled adapter never holds the program up for long.
class QtSerialPort final : public SerialPort {
public:
    QtSerialPort() = default;
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void setPortNumber(std::int16_t number) override;
    void setSettings(const PortSettings& settings) override;
    [[nodiscard]] bool isOpen() const override;
    void setOpen(bool open) override;
    void write(std::span<const std::uint8_t> bytes) override;

private:
    void open();
    void close();
    void applySettings();
    [[noreturn]] void failWrite(const QString& reason);
    [[noreturn]] void failStalled();
    [[nodiscard]] qint64 msLeft() const;
    void drain();

    QSerialPort port_;
    std::int16_t number_ = 1;
    QString device_; // the device of the last open, for the reasons of failures
    PortSettings settings_;
    SendDeadline deadline_;
    bool abandoned_ = false; // a send since the open failed
};
