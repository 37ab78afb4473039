#pragma once

#include "panel/status_line.h"

#include <map>
#include <string>

class FakeStatusLine final : public StatusLine {
public:
    void setPanelText(int panel, const std::string& text) override { texts[panel] = text; }
    void setPanelToolTip(int panel, const std::string& toolTip) override { toolTips[panel] = toolTip; }

    std::map<int, std::string> texts;
    std::map<int, std::string> toolTips;
};
