#pragma once

#include "panel/port_settings.h"
#include "panel/serial_port.h"

#include <QSerialPort>

// The product's serial port. Bytes are pushed to the device as they are written, so a device
// that has gone away fails the write; closing waits until everything written has left, within a
// deadline set by the wire time, so a stalled adapter cannot hang the program.
class QtSerialPort final : public SerialPort {
public:
    QtSerialPort() = default;
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void setPortNumber(std::int16_t number) override;
    void setSettings(const std::string& settings) override;
    [[nodiscard]] bool isOpen() const override;
    void setOpen(bool open) override;
    void write(std::span<const std::uint8_t> bytes) override;

    [[nodiscard]] QString deviceName() const { return port_.portName(); }

private:
    void open();
    void close();
    void applySettings();
    [[noreturn]] void failWrite(const QString& reason) const;
    void drainDevice(qint64 deadlineMs) const;

    QSerialPort port_;
    std::int16_t number_ = 1;
    PortSettings settings_;
    std::int64_t bytesSinceOpen_ = 0;
};
