#pragma once

#include "panel/status_line.h"

#include <map>
#include <string>

class FakeStatusLine final : public StatusLine {
public:
    void setPanelText(int panel, const std::string& text) override
    {
        texts[panel] = text;
        ++textWrites;
    }
    void setPanelToolTip(int panel, const std::string& toolTip) override { toolTips[panel] = toolTip; }

    [[nodiscard]] std::string text(int panel) const
    {
        const auto it = texts.find(panel);
        return it == texts.end() ? std::string{} : it->second;
    }

    std::map<int, std::string> texts;
    std::map<int, std::string> toolTips;
    int textWrites = 0;
};
