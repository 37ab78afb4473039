// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/main_window.h"
#include "session/panel_session.h"

#ifdef PAINEL_MQTT
#include "remote/mqtt_remote.h"
#endif

class Journal;
class SerialPort;

// The program's parts, built the one way the program and its tests use: the session drawing on
// the window's status bar and preview, the broker on the session, the window showing it. The
// settings are read once all stand; the broker is reached once the panel's start-up is out.
class PanelProgram {
public:
    PanelProgram(const QString& caption, SerialPort& port, QString preferencesFile, Journal* journal = nullptr);
    PanelProgram(const PanelProgram&) = delete;
    PanelProgram& operator=(const PanelProgram&) = delete;

    // The program ends: the broker is told now rather than by the last will.
    void stop();

private:
    PanelStatusBar* statusBar_; // the window's, once it stands
    PanelPreview* preview_;     // likewise

public:
    PanelSession session;
#ifdef PAINEL_MQTT
    MqttRemote mqtt;
#endif
    MainWindow window;
};
