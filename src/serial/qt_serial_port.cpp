// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/qt_serial_port.h"

#include "panel/line_error.h"
#include "serial/port_devices.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Open failures as the status texts know them; anything unexpected is "hardware not available".
LineError openError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return LineError::InvalidPortNumber;
    case QSerialPort::OpenError: return LineError::PortAlreadyOpen;
    case QSerialPort::PermissionError: return LineError::CouldNotOpenDevice;
    default: return LineError::HardwareNotAvailable;
    }
}

std::string text(const QString& s) { return s.toStdString(); }

QSerialPort::Parity qtParity(Parity p)
{
    switch (p) {
    case Parity::None: return QSerialPort::NoParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits qtStopBits(StopBits s)
{
    switch (s) {
    case StopBits::One: return QSerialPort::OneStop;
    case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case StopBits::Two: return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

} // namespace

QtSerialPort::~QtSerialPort()
{
    try {
        if (port_.isOpen()) close();
    } catch (const LineException&) {
        // Nothing is left to tell at destruction; the port is closed either way.
    }
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

void QtSerialPort::applySettings()
{
    port_.setBaudRate(settings_.baud);
    port_.setParity(qtParity(settings_.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(qtStopBits(settings_.stopBits));
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialPort::open()
{
    if (port_.isOpen()) throw LineException(LineError::PortAlreadyOpen, "Port already opened");
    const PortBinding binding = portBinding(number_);
    device_ = binding.device;
    if (const auto refusal = refuseOpen(binding)) throw LineException(refusal->error, text(refusal->reason));
    port_.setPortName(device_);
    applySettings();
    port_.clearError();
    // Written only, as the panel never answers; read too only for the cable's echo, and then
    // nothing less will do: a port that cannot be read cannot prove anything.
    if (!port_.open(echo_ ? QIODevice::ReadWrite : QIODevice::WriteOnly)) {
        const auto error = port_.error();
        const QString reason = openFailureReason(binding, port_.errorString(), echo_);
        throw LineException(openError(error), text(echo_ ? reason + QStringLiteral(" (com o eco do cabo, a porta abre também para ler)") : reason));
    }
    // What waits in the input (a line's noise, an echo that came too late) is no echo of this send.
    if (echo_) ::tcflush(static_cast<int>(port_.handle()), TCIFLUSH);
    opened();
}

std::size_t QtSerialPort::readBack(std::span<std::uint8_t> buffer, qint64 waitMs)
{
    const int fd = static_cast<int>(port_.handle());
    for (pollfd ready{fd, POLLIN, 0};;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (waitMs <= 0 || ::poll(&ready, 1, static_cast<int>(waitMs)) <= 0) return 0;
        waitMs = 0;
    }
}

void QtSerialPort::write(std::span<const std::uint8_t> bytes)
{
    if (!port_.isOpen()) throw LineException(LineError::PortNotOpen, "Operation valid only when the port is open");
    sending(bytes);
    // Straight to the device rather than through Qt's buffer: a full driver buffer (EAGAIN) is
    // then told apart from a device that has gone (EIO), and waited for only until the deadline.
    const int fd = static_cast<int>(port_.handle());
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            progressed();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            failWrite(writeFailureReason(errno));
        } else if (pollfd room{fd, POLLOUT, 0}; msLeft() <= 0 || ::poll(&room, 1, static_cast<int>(msLeft())) == 0) {
            failStalled();
        }
    }
}

void QtSerialPort::drain()
{
    // Not tcdrain, which has no time limit: the driver's queue is watched until it is empty,
    // and the UART's own few bytes then leave during the close.
    for (int queued = 0, before = 0; (queued = queuedForLine()) > 0; before = queued) {
        if (queued != before) progressed();
        if (msLeft() <= 0) failStalled();
        const auto wait = static_cast<qint64>(queued * wireSeconds(settings_, 1) * 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<qint64>(wait, 1, std::min<qint64>(20, msLeft()))));
    }
}

int QtSerialPort::queuedForLine() const
{
    int queued = 0;
    return ::ioctl(handle(), TIOCOUTQ, &queued) == 0 ? queued : -1;
}

void QtSerialPort::close()
{
    std::optional<LineException> failure;
    try {
        if (!abandoned_) {
            drain();
            collectEcho();
        }
    } catch (const LineException& e) {
        failure = e;
    }
    // The output of a send that was given up is dropped, so that the close does not wait for
    // it in the kernel (up to the driver's closing wait, 30 s by default).
    if (abandoned_) port_.clear(QSerialPort::Output);
    if (echo_) port_.clear(QSerialPort::Input);
    port_.close();
    abandoned_ = false;
    if (failure) throw *failure;
}
