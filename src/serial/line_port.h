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
// little, as the flag then tries once a second. With the cable's echo on, what comes back is
// compared with what went, until it has all come back or the line's last byte has had time to:
// bytes leave one after another, none before it was written, and come back within a margin for
// the adapter's receive side.
class LinePort : public SerialPort {
public:
    static constexpr qint64 marginMs = 50;
    // USB adapters hand on what they receive in batches, up to their latency timer apart (an
    // FTDI's 16 ms by default), and the UART's 16-byte FIFO still sends for 17 ms after the
    // driver's queue is empty: 50 ms covers both with room for a busy machine, and is what the
    // flag's 250 ms can spare on every tick.
    static constexpr qint64 echoMarginMs = 50;

    void setPortNumber(std::int16_t number) final;
    void setSettings(const PortSettings& settings) final;
    void setOpen(bool open) final;
    void setEcho(bool on) final { echo_ = on; }
    [[nodiscard]] EchoCheck lastEcho() const final { return lastEcho_; }

protected:
    virtual void open() = 0;
    virtual void close() = 0;
    virtual void applySettings() = 0;
    // Waits up to `waitMs` for bytes that came back, and reads as many as fit into `buffer`.
    virtual std::size_t readBack(std::span<std::uint8_t> buffer, qint64 waitMs) = 0;

    // The port has just opened: the deadline counts from now.
    void opened();
    // `bytes` are on their way; the line took some just now.
    void sending(std::span<const std::uint8_t> bytes);
    // After the drain: the echo read back and weighed, or nothing when the echo is off.
    void collectEcho();
    void progressed() { lastProgressMs_ = sinceOpen_.elapsed(); }
    [[nodiscard]] qint64 msLeft() const;
    [[noreturn]] void failWrite(const QString& reason);
    [[noreturn]] void failStalled();

    std::int16_t number_ = 1;
    QString device_; // the device of the last open, for the reasons of failures
    PortSettings settings_;
    bool abandoned_ = false; // a send since the open failed
    bool echo_ = false;

private:
    std::int64_t bytesSinceOpen_ = 0;
    double lineFreeMs_ = 0; // when the last byte written leaves the line, at the soonest
    QElapsedTimer sinceOpen_;
    qint64 lastProgressMs_ = 0; // when the line last took bytes, on sinceOpen_'s clock
    EchoComparison echoed_;
    EchoCheck lastEcho_;
};
