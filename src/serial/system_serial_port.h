// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The serial port the program opens: Qt SerialPort with the device's own descriptor on Unix, the
// plain Win32 calls on Windows.
#ifdef _WIN32
#include "serial/win_serial_port.h"
using SystemSerialPort = WinSerialPort;
#else
#include "serial/qt_serial_port.h"
using SystemSerialPort = QtSerialPort;
#endif
