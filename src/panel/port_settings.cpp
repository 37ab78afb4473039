// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/port_settings.h"

double wireSeconds(const PortSettings& settings, std::int64_t bytes)
{
    const double stop = settings.stopBits == StopBits::One ? 1.0 : settings.stopBits == StopBits::OneAndHalf ? 1.5 : 2.0;
    const double bitsPerByte = 1.0 + settings.dataBits + (settings.parity == Parity::None ? 0.0 : 1.0) + stop;
    return static_cast<double>(bytes) * bitsPerByte / settings.baud;
}
