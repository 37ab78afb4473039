// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/port_claim.h"
#include "session/panel_session.h"

#include "remote/mqtt_remote.h"

class Journal;
class SerialPort;
class SignView;
class StatusLine;

// A post without its window: the session on its port, showing the line on `status` and the sign
// on `view`, and the broker on the session; built the one way the desk program, a post without
// a screen and the tests all use. The settings are read once all stand; the broker is reached
// once the panel's start-up is out.
class PostCore {
public:
    PostCore(SerialPort& port, StatusLine& status, SignView& view, QString preferencesFile, Journal* journal = nullptr);
    PostCore(const PostCore&) = delete;
    PostCore& operator=(const PostCore&) = delete;

    // The post ends: the broker is told now rather than by the last will.
    void stop();
    // Holds the chosen port's device for this post alone, and the new one whenever the
    // preferences change it; nullopt when held, else what another program that holds it is.
    [[nodiscard]] std::optional<QString> claimPort();

    PanelSession session;
    PortClaim claim;
    MqttRemote mqtt;

private:
    bool claimFollowsPort_ = false;
};
