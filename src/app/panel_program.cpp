// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_program.h"

PanelProgram::PanelProgram(const QString& caption, SerialPort& port, QString preferencesFile, Journal* journal)
    : PostCore(port, *statusBar, *preview, std::move(preferencesFile), journal), window(caption, session, statusBar, preview)
{}
