// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/win_serial_port.h"

#include "panel/line_error.h"
#include "serial/port_devices.h"

#include <algorithm>
#include <optional>

#include <windows.h>

namespace {

std::string text(const QString& s) { return s.toStdString(); }

QString systemText(DWORD error) { return qt_error_string(static_cast<int>(error)); }

// Open failures as the status texts know them; anything unexpected is "hardware not available".
LineError openError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return LineError::InvalidPortNumber;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return LineError::PortAlreadyOpen;
    default: return LineError::HardwareNotAvailable;
    }
}

BYTE parityOf(Parity p)
{
    switch (p) {
    case Parity::None: return NOPARITY;
    case Parity::Even: return EVENPARITY;
    case Parity::Odd: return ODDPARITY;
    case Parity::Mark: return MARKPARITY;
    case Parity::Space: return SPACEPARITY;
    }
    return NOPARITY;
}

BYTE stopBitsOf(StopBits s)
{
    switch (s) {
    case StopBits::One: return ONESTOPBIT;
    case StopBits::OneAndHalf: return ONE5STOPBITS;
    case StopBits::Two: return TWOSTOPBITS;
    }
    return ONESTOPBIT;
}

} // namespace

WinSerialPort::~WinSerialPort()
{
    try {
        if (isOpen()) close();
    } catch (const LineException&) {
        // Nothing is left to tell at destruction; the port is closed either way.
    }
}

void WinSerialPort::applySettings()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb))
        throw LineException(LineError::HardwareNotAvailable, text(device_ + QStringLiteral(": ") + systemText(::GetLastError())));
    dcb.BaudRate = static_cast<DWORD>(settings_.baud);
    dcb.ByteSize = static_cast<BYTE>(settings_.dataBits);
    dcb.Parity = parityOf(settings_.parity);
    dcb.fParity = settings_.parity == Parity::None ? FALSE : TRUE;
    dcb.StopBits = stopBitsOf(settings_.stopBits);
    dcb.fBinary = TRUE;
    // No flow control: the panel has no lines to hold the program back with.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!::SetCommState(handle_, &dcb))
        throw LineException(LineError::HardwareNotAvailable, text(device_ + QStringLiteral(": ") + systemText(::GetLastError())));
}

void WinSerialPort::open()
{
    if (isOpen()) throw LineException(LineError::PortAlreadyOpen, "Port already opened");
    const PortBinding binding = portBinding(number_);
    device_ = binding.device;
    // Nothing is ever read, but Wine refuses the port's settings on a handle opened only for
    // writing, and Windows minds neither way.
    const std::wstring path = (QStringLiteral("\\\\.\\") + device_).toStdWString();
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        throw LineException(openError(error), text(openFailureReason(binding, systemText(error))));
    }
    handle_ = handle;
    try {
        applySettings();
    } catch (const LineException&) {
        ::CloseHandle(handle_);
        handle_ = nullptr;
        throw;
    }
    // What waits in the input (a line's noise, an echo that came too late) is no echo of this send.
    if (echo_) ::PurgeComm(handle_, PURGE_RXCLEAR);
    opened();
}

std::size_t WinSerialPort::readBack(std::span<std::uint8_t> buffer, qint64 waitMs)
{
    // Returns at once with what has come, or with the first byte to come within `waitMs`.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(std::max<qint64>(waitMs, 1));
    DWORD read = 0;
    if (!::SetCommTimeouts(handle_, &timeouts) || !::ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return 0;
    return read;
}

void WinSerialPort::write(std::span<const std::uint8_t> bytes)
{
    if (!isOpen()) throw LineException(LineError::PortNotOpen, "Operation valid only when the port is open");
    sending(bytes);
    for (std::size_t done = 0; done < bytes.size();) {
        if (msLeft() <= 0) failStalled();
        // The write returns by the deadline with whatever the driver took.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(msLeft());
        DWORD written = 0;
        if (!::SetCommTimeouts(handle_, &timeouts) || !::WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            failWrite(systemText(::GetLastError()));
        if (written > 0) {
            done += written;
            progressed();
        }
    }
}

void WinSerialPort::close()
{
    std::optional<LineException> failure;
    // Returns once every byte written has left the driver. The output of a send that was given
    // up is dropped instead, so the close does not wait for it.
    if (abandoned_) ::PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
    else if (!::FlushFileBuffers(handle_))
        failure = LineException(LineError::WriteFailed, text(device_ + QStringLiteral(": a linha não esvaziou: ") + systemText(::GetLastError())));
    else collectEcho();
    ::CloseHandle(handle_);
    handle_ = nullptr;
    abandoned_ = false;
    if (failure) throw *failure;
}
