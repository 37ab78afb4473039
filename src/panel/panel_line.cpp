// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/panel_line.h"

#include "panel/line_error.h"
#include "panel/port_settings.h"

void PanelLine::initSerial(std::int32_t baud)
{
    // The port number is applied by every open, so a changed preference needs no new set-up.
    port_.setSettings(PortSettings{.baud = baud});
}

bool PanelLine::openPort(std::int16_t comPort)
{
    lastPort_ = comPort;
    lastEcho_ = {};
    try {
        if (!port_.isOpen()) {
            port_.setPortNumber(comPort);
            port_.setEcho(echoOn(comPort));
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

void PanelLine::closePort()
{
    if (port_.isOpen()) port_.setOpen(false);
}

SendOutcome PanelLine::openSendClose(std::int16_t comPort, const std::function<void()>& send)
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
    noteEcho(comPort);
    return SendOutcome::Sent;
}

void PanelLine::noteEcho(std::int16_t comPort)
{
    lastEcho_ = port_.lastEcho();
    if (lastEcho_.echo == Echo::Off || lastEcho_.echo == Echo::Confirmed) return;
    // The bytes went out: not a failure of the port, but no proof either; said where the
    // failures are, with what to look at.
    status_.setPanelText(linkStatusPanel, echoFailureText);
    status_.setPanelToolTip(linkStatusPanel, echoReason(lastEcho_, comPort));
}

std::string PanelLine::echoReason(const EchoCheck& check, std::int16_t comPort)
{
    const std::string port = portName(comPort);
    switch (check.echo) {
    case Echo::Missing: return "sem eco do cabo em " + port + ": o cabo pode estar cortado ou desligado no painel";
    case Echo::Different: return "eco diferente em " + port + " (" + check.detail + "): ruído na linha, ou um conversor noutra velocidade";
    case Echo::Incomplete: return "eco incompleto em " + port + " (" + check.detail + "): a linha cortou-se a meio, ou o cabo tem mau contacto";
    case Echo::Off:
    case Echo::Confirmed: break;
    }
    return {};
}

void PanelLine::abandonSend(const LineException& failure)
{
    try {
        closePort();
    } catch (const LineException&) {
        // The port closes even when the drain fails; the first failure is the one to show.
    }
    fail(writeFailureText, failure.what());
}

void PanelLine::fail(const std::string& text, const std::string& reason)
{
    status_.setPanelText(linkStatusPanel, text);
    status_.setPanelToolTip(linkStatusPanel, reason);
    failures_[lastPort_] = {reason, std::chrono::system_clock::now()};
}

std::optional<LineFailure> PanelLine::lastFailure(std::int16_t comPort) const
{
    const auto found = failures_.find(comPort);
    if (found == failures_.end()) return std::nullopt;
    return found->second;
}
