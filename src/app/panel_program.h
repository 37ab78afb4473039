// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/main_window.h"
#include "app/status_bar.h"
#include "post/post_core.h"
#include "widgets/panel_preview.h"

class Journal;
class SerialPort;

// What the session draws on, made before it: the window's status bar and preview, which the
// window takes over once it stands.
struct ProgramWidgets {
    PanelStatusBar* statusBar = new PanelStatusBar;
    PanelPreview* preview = new PanelPreview;
};

// The program's parts, built the one way the program and its tests use: the post on the
// window's status bar and preview, and the window showing its session.
class PanelProgram : private ProgramWidgets, public PostCore {
public:
    PanelProgram(const QString& caption, SerialPort& port, QString preferencesFile, Journal* journal = nullptr);

    MainWindow window;
};
