// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/panel_link.h"

#include "panel/line_error.h"
#include "panel/port_settings.h"

void PanelLink::initSerial(std::int32_t baud)
{
    // The port number is applied by every open, so a changed preference needs no new set-up.
    port_.setSettings(PortSettings{.baud = baud});
}

bool PanelLink::openPort(std::int16_t comPort)
{
    lastPort_ = comPort;
    try {
        if (!port_.isOpen()) {
            port_.setPortNumber(comPort);
            port_.setOpen(true);
        }
    } catch (const LineException& e) {
        fail(openFailureText, e.what());
        return false;
    }
    status_.setPanelText(linkStatusPanel, blankStatusText);
    status_.setPanelToolTip(linkStatusPanel, {});
    return true;
}

void PanelLink::closePort()
{
    if (port_.isOpen()) port_.setOpen(false);
}

SendOutcome PanelLink::openSendClose(std::int16_t comPort, const std::function<void()>& send)
{
    if (!openPort(comPort)) return SendOutcome::NotOpened;
    // An exception must not leave a Qt event handler; the operator learns of the failure from
    // the status line instead.
    try {
        send();
        closePort();
    } catch (const LineException& e) {
        abandonSend(e);
        return SendOutcome::Failed;
    }
    return SendOutcome::Sent;
}

void PanelLink::abandonSend(const LineException& failure)
{
    try {
        closePort();
    } catch (const LineException&) {
        // The port closes even when the drain fails; the first failure is the one to show.
    }
    fail(writeFailureText, failure.what());
}

void PanelLink::fail(const std::string& text, const std::string& reason)
{
    status_.setPanelText(linkStatusPanel, text);
    status_.setPanelToolTip(linkStatusPanel, reason);
    failures_[lastPort_] = {reason, std::chrono::system_clock::now()};
}

std::optional<LinkFailure> PanelLink::lastFailure(std::int16_t comPort) const
{
    const auto found = failures_.find(comPort);
    if (found == failures_.end()) return std::nullopt;
    return found->second;
}
