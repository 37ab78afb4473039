// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The panels of the main window's status bar, numbered from 1. Texts are UTF-8.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setPanelText(int panel, const std::string& text) = 0;
    virtual void setPanelToolTip(int panel, const std::string& toolTip) = 0;
};
