// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/line_error.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

// Folder of the program's own files: the preferences and the port links.
[[nodiscard]] QString configFolder();

// Port n as the operator knows it: "COM1".
[[nodiscard]] QString comName(std::int16_t number);
// Port n's name and the device it opens, as the journal writes them: {"COM1", "/dev/ttyUSB0"}.
[[nodiscard]] std::pair<QString, QString> portAndDevice(int number);

// Where udev keeps the names of USB serial adapters that do not change when they are plugged
// into another socket.
inline const QString stableNamesFolder = QStringLiteral("/dev/serial/by-id");

// What port number n opens. On Linux a link named com<n> in the config folder names the device
// (for example /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0); without one, port n is
// /dev/ttyS<n-1>.
struct PortBinding {
    QString link;   // the com<n> link, empty when port n is not bound
    QString target; // what the link names, as written in it
    QString device; // what an open uses: the device at the end of the link, or the default
    bool present = false;
};
[[nodiscard]] PortBinding portBinding(std::int16_t number);
[[nodiscard]] QString deviceForPort(std::int16_t number);

// The stable name in `folder` that leads to `device`, or an empty string.
[[nodiscard]] QString stableNameOf(const QString& device, const QString& folder = stableNamesFolder);

// Binds port n to `device` (a path as the operator gave it), through its stable name where it
// has one, so the binding survives re-plugging. nullopt when done; otherwise what is wrong, for
// the operator, and nothing has changed.
[[nodiscard]] std::optional<QString> bindPort(std::int16_t number, const QString& device, const QString& stableFolder = stableNamesFolder);
// Points `link` at `target` by a new link beside it, renamed over it, so that `link` is never
// missing meanwhile. nullopt when done; otherwise the system's reason, and nothing has changed.
[[nodiscard]] std::optional<QString> replaceLink(const QString& link, const QString& target);
// Removes port n's link, so that it opens its default device again.
[[nodiscard]] std::optional<QString> unbindPort(std::int16_t number);

// One line on what port n resolves to: "/dev/ttyUSB0 (FT232R USB UART)", or "sem dispositivo".
[[nodiscard]] QString portDescription(std::int16_t number);

// Why `binding`'s device must not be opened although it is there: it is no serial line (the
// pseudo-terminal multiplexer, a console), or a live process holds its lock file. Locks left by
// processes that are gone are removed on the way. nullopt when it may be opened.
struct OpenRefusal {
    LineError error;
    QString reason;
};
[[nodiscard]] std::optional<OpenRefusal> refuseOpen(const PortBinding& binding);

#ifdef Q_OS_UNIX
// A terminal device that can carry a line: a serial port or an adapter (the kernel files them
// under "tty"), or a pseudo-terminal's slave standing in for one.
[[nodiscard]] bool isSerialDevice(const QString& path);
// The command name of process `pid`, or an empty string.
[[nodiscard]] QString processCommand(qint64 pid);
// The name of user `uid`, or its number.
[[nodiscard]] QString userName(uid_t uid);
// The processes but this one that have `device` open, as /proc tells; for a pseudo-terminal's
// slave, whether each also holds its master, the far end of the line rather than a user of it.
struct DeviceUser {
    qint64 pid;
    bool farEnd;
};
[[nodiscard]] std::vector<DeviceUser> processesUsing(const QString& device);
#endif

// Why a device could not be opened, in words an operator can act on: an adapter unplugged,
// the group the user lacks, the program that holds the port, a file that is no serial device.
// `systemText` is what the system said, used when none of these is the cause; `reading` when the
// port is opened to read the cable's echo too.
[[nodiscard]] QString openFailureReason(const PortBinding& binding, const QString& systemText, bool reading = false);
// Why a write failed, from its errno.
[[nodiscard]] QString writeFailureReason(int errorNumber);
