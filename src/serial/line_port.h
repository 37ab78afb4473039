// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/port_settings.h"
#include "panel/serial_port.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>

// What both systems' ports share: the port's number and settings, opening and closing on
// demand, and how a send fails, on the device's word or once it runs out of time. A send is given
// up once the line is behind the wire time of what was written since the open by more than a
// margin: room for a USB adapter's latency, yet short enough that a stalled line costs the window
// little, as the flag then tries once a second.
class LinePort : public SerialPort {
public:
    static constexpr qint64 marginMs = 50;

    void setPortNumber(std::int16_t number) final;
    void setSettings(const PortSettings& settings) final;
    void setOpen(bool open) final;

protected:
    virtual void open() = 0;
    virtual void close() = 0;
    virtual void applySettings() = 0;

    // The port has just opened: the deadline counts from now.
    void opened();
    // `bytes` more are on their way; the line took some just now.
    void sending(std::int64_t bytes) { bytesSinceOpen_ += bytes; }
    void progressed() { lastProgressMs_ = sinceOpen_.elapsed(); }
    [[nodiscard]] qint64 msLeft() const;
    [[noreturn]] void failWrite(const QString& reason);
    [[noreturn]] void failStalled();

    std::int16_t number_ = 1;
    QString device_; // the device of the last open, for the reasons of failures
    PortSettings settings_;
    bool abandoned_ = false; // a send since the open failed

private:
    std::int64_t bytesSinceOpen_ = 0;
    QElapsedTimer sinceOpen_;
    qint64 lastProgressMs_ = 0; // when the line last took bytes, on sinceOpen_'s clock
};
