// SPDX-License-Identifier: GPL-3.0-or-later
#include "post/post_core.h"

PostCore::PostCore(SerialPort& port, StatusLine& status, SignView& view, QString preferencesFile, Journal* journal)
    : session(port, status, view, std::move(preferencesFile), journal)
#ifdef PAINEL_MQTT
      ,
      mqtt(session)
#endif
{
    session.load();
#ifdef PAINEL_MQTT
    // The broker, its library and its thread wait until the panel's start-up is on the line.
    QObject::connect(&session, &PanelSession::startUpSent, &mqtt, &MqttRemote::start);
#endif
}

void PostCore::stop()
{
#ifdef PAINEL_MQTT
    mqtt.stop();
#endif
}
