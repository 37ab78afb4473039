// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line_port.h"

#include "panel/line_error.h"

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
    lastProgressMs_ = 0;
    sinceOpen_.start();
}

qint64 LinePort::msLeft() const { return marginMs + qint64(1000.0 * wireSeconds(settings_, bytesSinceOpen_)) - sinceOpen_.elapsed(); }

void LinePort::failWrite(const QString& reason)
{
    abandoned_ = true;
    throw LineException(LineError::WriteFailed, (device_ + QStringLiteral(": ") + reason).toStdString());
}

void LinePort::failStalled() { failWrite(QStringLiteral("a linha não aceita dados há %1 ms").arg(sinceOpen_.elapsed() - lastProgressMs_)); }
