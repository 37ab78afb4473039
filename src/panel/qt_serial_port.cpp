#include "panel/qt_serial_port.h"

#include "panel/numbered_error.h"
#include "panel/port_devices.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {

// Open failures as the status texts know them; anything unexpected is "hardware not available".
int openErrorNumber(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return errnum::invalidPortNumber;
    case QSerialPort::OpenError: return errnum::portAlreadyOpen;
    case QSerialPort::PermissionError: return errnum::couldNotOpenDevice;
    default: return errnum::hardwareNotAvailable;
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
    } catch (const NumberedError&) {
        // Nothing is left to tell at destruction; the port is closed either way.
    }
}

void QtSerialPort::setPortNumber(std::int16_t number)
{
    if (port_.isOpen()) throw NumberedError(errnum::portAlreadyOpen, "Port already opened");
    if (number < 1) throw NumberedError(errnum::invalidPortNumber, "Invalid Port number");
    number_ = number;
}

void QtSerialPort::setSettings(const std::string& settings)
{
    settings_ = parsePortSettings(settings);
    if (port_.isOpen()) applySettings();
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

void QtSerialPort::setOpen(bool open)
{
    if (open) this->open();
    else if (port_.isOpen()) close();
}

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
    if (port_.isOpen()) throw NumberedError(errnum::portAlreadyOpen, "Port already opened");
    const QString device = deviceForPort(number_);
    port_.setPortName(device);
    applySettings();
    port_.clearError();
    if (!port_.open(QIODevice::WriteOnly)) {
        const auto error = port_.error();
        throw NumberedError(openErrorNumber(error), text(device + QStringLiteral(": ") + port_.errorString()));
    }
    bytesSinceOpen_ = 0;
}

void QtSerialPort::failWrite(const QString& reason) const
{
    throw NumberedError(errnum::writeFailed, text(port_.portName() + QStringLiteral(": ") + reason));
}

void QtSerialPort::write(std::span<const std::uint8_t> bytes)
{
    if (!port_.isOpen())
        throw NumberedError(errnum::portNotOpen, "Operation valid only when the port is open");
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        failWrite(port_.errorString());
    bytesSinceOpen_ += size;
    // Hand the bytes to the device now: a device that has gone away only shows when data
    // actually goes out, and the caller must hear of it at this write.
    port_.flush();
    if (port_.error() != QSerialPort::NoError) failWrite(port_.errorString());
}

void QtSerialPort::drainDevice(qint64 deadlineMs) const
{
#ifdef Q_OS_UNIX
    const int fd = static_cast<int>(port_.handle());
    const QDeadlineTimer deadline(deadlineMs);
    // tcdrain has no time-out of its own; wait for the driver's queue to empty first, so the
    // final tcdrain only has the UART's own FIFO left to wait for.
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        if (deadline.hasExpired())
            failWrite(QStringLiteral("%1 bytes still waiting to be sent").arg(queued));
        const double perByte = wireSeconds(settings_, 1) * 1000.0;
        const auto wait = std::chrono::milliseconds(
            std::clamp<qint64>(static_cast<qint64>(queued * perByte), 1, 20));
        std::this_thread::sleep_for(wait);
    }
    while (::tcdrain(fd) != 0) {
        if (errno != EINTR) {
            // A pseudo-terminal or a USB adapter that has gone cannot be drained.
            if (errno == EIO || errno == ENXIO || errno == ENODEV)
                failWrite(QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
    }
#else
    Q_UNUSED(deadlineMs);
#endif
}

void QtSerialPort::close()
{
    // What the line needs for everything written since the open, with room for a slow driver.
    const qint64 budgetMs = 500 + static_cast<qint64>(2000.0 * wireSeconds(settings_, bytesSinceOpen_));
    const QDeadlineTimer deadline(budgetMs);
    std::optional<NumberedError> failure;
    try {
        // QSerialPort::close() drops whatever is still in its own buffer.
        while (port_.bytesToWrite() > 0) {
            if (deadline.hasExpired()) failWrite(QStringLiteral("Timed out sending to the port"));
            if (!port_.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))
                && port_.error() != QSerialPort::NoError && port_.error() != QSerialPort::TimeoutError)
                failWrite(port_.errorString());
        }
        if (port_.error() != QSerialPort::NoError && port_.error() != QSerialPort::TimeoutError)
            failWrite(port_.errorString());
        drainDevice(std::max<qint64>(1, deadline.remainingTime()));
    } catch (const NumberedError& e) {
        failure = e;
    }
    port_.close();
    bytesSinceOpen_ = 0;
    if (failure) throw *failure;
}
