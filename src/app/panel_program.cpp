// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_program.h"

#include "app/status_bar.h"
#include "signs/panel_preview.h"

PanelProgram::PanelProgram(const QString& caption, SerialPort& port, QString preferencesFile, Journal* journal)
    : statusBar_(new PanelStatusBar),
      preview_(new PanelPreview),
      session(port, *statusBar_, *preview_, std::move(preferencesFile), journal),
#ifdef PAINEL_MQTT
      mqtt(session),
#endif
      window(caption, session, statusBar_, preview_)
{
    session.load();
#ifdef PAINEL_MQTT
    // The broker, its library and its thread wait until the panel's start-up is on the line.
    QObject::connect(&session, &PanelSession::startUpSent, &mqtt, &MqttRemote::start);
#endif
}

void PanelProgram::stop()
{
#ifdef PAINEL_MQTT
    mqtt.stop();
#endif
}
