// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// A post's hold on its panel's port for as long as it runs, so that the desk program and the post
// without a screen, whoever runs them, never drive one panel together. Neither keeps the port
// open between sends, so the hold is a lock beside the system's serial locks (/run/lock): a file
// per device, locked with flock(), which the system lets go of when its process ends however it
// ends, and which any user may lock (the file is left readable to all). On Windows a port is open
// to one process at a time already, and nothing more is held.
class PortClaim {
public:
    PortClaim() = default;
    ~PortClaim() { release(); }
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    // Takes `device` (a link is followed to the device it names), letting go of any device held
    // before. nullopt when held, or when no lock can be made there (nothing to share it with
    // then); otherwise the process that holds it, in the operator's words.
    [[nodiscard]] std::optional<QString> claim(const QString& device);
    void release();

    // The live process, other than this one, that holds `device`: "painel-posto (processo 812)".
    [[nodiscard]] static std::optional<QString> holderOf(const QString& device);

private:
    int fd_ = -1;
    QString file_;
};
