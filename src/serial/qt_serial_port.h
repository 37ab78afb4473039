// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/line_port.h"

#include <QSerialPort>

// The product's serial port on Unix. Bytes are pushed to the device as they are written, so a device
// that has gone away fails the write; closing waits until everything written has left. Every
// wait ends by one deadline: the wire time of what was written since the open plus a margin.
// A line that stops taking bytes fails the send by then, its queued output is dropped and the
// port closed, so a stalled adapter never holds the program up for long.
class QtSerialPort : public LinePort {
public:
    QtSerialPort() = default;
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    [[nodiscard]] bool isOpen() const override;
    void write(std::span<const std::uint8_t> bytes) override;

private:
    void open() override;
    void close() override;
    void applySettings() override;
    std::size_t readBack(std::span<std::uint8_t> buffer, qint64 waitMs) override;
    void drain();

protected:
    // Bytes the driver holds that have not left yet (TIOCOUTQ), -1 when it cannot tell.
    [[nodiscard]] virtual int queuedForLine() const;
    [[nodiscard]] int handle() const { return static_cast<int>(port_.handle()); }

private:
    QSerialPort port_;
};
