// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/line_error.h"
#include "panel/serial_port.h"
#include "panel/status_line.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

inline constexpr int linkStatusPanel = 1;
inline const std::string openFailureText = "Erro a abrir a porta serie";
inline const std::string writeFailureText = "Erro a escrever na porta serie";
// Only with the cable's echo on: a send that went out without the proof that it reached the panel.
inline const std::string echoFailureText = "Sem eco do cabo";
// What a successful open leaves in the link's status panel.
inline const std::string blankStatusText(29, ' ');

// How an action's exchange with the panel ended.
enum class SendOutcome { Sent, NotOpened, Failed };

// The last failure on a port and when it happened, for the operator to look up later.
struct LineFailure {
    std::string reason;
    std::chrono::system_clock::time_point when;
};

// Configures the port once, and opens and closes it around every exchange with the panel,
// reporting the outcome in status panel 1. The system's reason for a failed open goes to the
// panel's tooltip, so the panel text stays the one operators know.
class PanelLine {
public:
    PanelLine(SerialPort& port, StatusLine& status) : port_(port), status_(status) {}

    // 8N1 at `baud`, for every open from now on.
    void initSerial(std::int32_t baud);
    [[nodiscard]] bool openPort(std::int16_t comPort);
    void closePort();
    // Every action's road: open port `comPort`, run `send`, close the port so that all of it
    // reaches the line. A failure on the way is shown in the status line, the port is left
    // closed and the program carries on.
    [[nodiscard]] SendOutcome openSendClose(std::int16_t comPort, const std::function<void()>& send);
    // After a send has failed part-way: closes the port whatever it says, and tells the
    // operator in status panel 1, with the system's reason as the tooltip.
    void abandonSend(const LineException& failure);

    [[nodiscard]] std::optional<LineFailure> lastFailure(std::int16_t comPort) const;

    // The cable's echo on port `comPort`, off unless set: every send on it is then checked.
    void setEcho(std::int16_t comPort, bool on) { echo_[comPort] = on; }
    [[nodiscard]] bool echoOn(std::int16_t comPort) const { return echo_.count(comPort) != 0 && echo_.at(comPort); }
    // How the last send's echo came back; off when the port's echo is.
    [[nodiscard]] const EchoCheck& lastEcho() const { return lastEcho_; }
    // Why an echo check that failed is worth the operator's while, and what to look at.
    [[nodiscard]] static std::string echoReason(const EchoCheck& check, std::int16_t comPort);

private:
    void fail(const std::string& text, const std::string& reason);
    void noteEcho(std::int16_t comPort);

    SerialPort& port_;
    StatusLine& status_;
    std::int16_t lastPort_ = 0; // the port of the last open
    std::map<std::int16_t, LineFailure> failures_;
    std::map<std::int16_t, bool> echo_;
    EchoCheck lastEcho_;
};
