// SPDX-License-Identifier: GPL-3.0-or-later
#include "post/post_core.h"

#include "serial/port_devices.h"

#include <QtGlobal>

PostCore::PostCore(SerialPort& port, StatusLine& status, SignView& view, QString preferencesFile, Journal* journal)
    : session(port, status, view, std::move(preferencesFile), journal), mqtt(session)
{
    session.load();
    // The broker, its library and its thread wait until the panel's start-up is on the line.
    QObject::connect(&session, &PanelSession::startUpSent, &mqtt, &MqttRemote::start);
}

void PostCore::stop() { mqtt.stop(); }

std::optional<QString> PostCore::claimPort()
{
    if (!claimFollowsPort_) {
        claimFollowsPort_ = true;
        // Another program's port is refused at every open, and its name said, all the same.
        QObject::connect(&session, &PanelSession::preferencesChanged, &session, [this] {
            if (const auto holder = claimPort()) qWarning("%s", qPrintable(*holder));
        });
    }
    const std::int16_t port = session.settings().comPort;
    const QString device = deviceForPort(port);
    if (const auto holder = claim.claim(device)) return QStringLiteral("a porta %1 (%2) é o painel de %3").arg(comName(port), device, *holder);
    return std::nullopt;
}
