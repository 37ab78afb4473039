// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/port_settings.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>

// When a send is given up, on either system: once the line is behind the wire time of what was
// written since the port opened by more than a margin. The margin leaves room for a USB
// adapter's latency, yet is short enough that a stalled line costs the window little, as the
// flag then tries once a second.
class SendDeadline {
public:
    static constexpr qint64 marginMs = 50;

    // The port has just opened.
    void restart()
    {
        bytes_ = 0;
        lastProgressMs_ = 0;
        sinceOpen_.start();
    }
    void add(std::int64_t bytes) { bytes_ += bytes; }
    // The line took bytes just now.
    void progressed() { lastProgressMs_ = sinceOpen_.elapsed(); }
    [[nodiscard]] qint64 msLeft(const PortSettings& settings) const { return marginMs + qint64(1000.0 * wireSeconds(settings, bytes_)) - sinceOpen_.elapsed(); }
    // Why a send that ran out of time was given up.
    [[nodiscard]] QString stalled() const { return QStringLiteral("a linha não aceita dados há %1 ms").arg(sinceOpen_.elapsed() - lastProgressMs_); }

private:
    std::int64_t bytes_ = 0;
    QElapsedTimer sinceOpen_;
    qint64 lastProgressMs_ = 0; // when the line last took bytes, on sinceOpen_'s clock
};
