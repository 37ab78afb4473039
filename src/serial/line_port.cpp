// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line_port.h"

#include "panel/line_error.h"

#include <algorithm>
#include <array>

void LinePort::setPortNumber(std::int16_t number)
{
    if (isOpen()) throw LineException(LineError::PortAlreadyOpen, "Port already opened");
    if (number < 1) throw LineException(LineError::InvalidPortNumber, "Invalid Port number");
    number_ = number;
}

void LinePort::setSettings(const PortSettings& settings)
{
    settings_ = settings;
    if (isOpen()) applySettings();
}

void LinePort::setOpen(bool open)
{
    if (open) this->open();
    else if (isOpen()) close();
}

void LinePort::opened()
{
    bytesSinceOpen_ = 0;
    lineFreeMs_ = 0;
    lastProgressMs_ = 0;
    echoed_.start();
    lastEcho_ = {};
    sinceOpen_.start();
}

void LinePort::sending(std::span<const std::uint8_t> bytes)
{
    bytesSinceOpen_ += static_cast<std::int64_t>(bytes.size());
    lineFreeMs_ = std::max(lineFreeMs_, double(sinceOpen_.elapsed())) + 1000.0 * wireSeconds(settings_, static_cast<std::int64_t>(bytes.size()));
    if (echo_) echoed_.wrote(bytes);
}

void LinePort::collectEcho()
{
    if (!echo_) return;
    const qint64 deadline = echoMarginMs + qint64(lineFreeMs_);
    std::array<std::uint8_t, 256> buffer{};
    for (;;) {
        const qint64 left = std::max<qint64>(0, deadline - sinceOpen_.elapsed());
        const std::size_t n = readBack(buffer, left);
        if (n > 0) echoed_.returned(std::span(buffer.data(), n));
        if (echoed_.complete() || (n == 0 && left == 0)) break;
    }
    lastEcho_ = echoed_.verdict();
}

qint64 LinePort::msLeft() const { return marginMs + qint64(1000.0 * wireSeconds(settings_, bytesSinceOpen_)) - sinceOpen_.elapsed(); }

void LinePort::failWrite(const QString& reason)
{
    abandoned_ = true;
    throw LineException(LineError::WriteFailed, (device_ + QStringLiteral(": ") + reason).toStdString());
}

void LinePort::failStalled() { failWrite(QStringLiteral("a linha não aceita dados há %1 ms").arg(sinceOpen_.elapsed() - lastProgressMs_)); }
