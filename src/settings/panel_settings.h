// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/sign_pattern.h"

#include <cstdint>

inline constexpr std::int16_t multiColourSigns = 1;
inline constexpr std::int16_t monoColourSigns = 2;

// The operator's three settings. After start-up and after every confirmed preferences dialog
// each field holds one of its accepted values.
struct PanelSettings {
    std::int16_t comPort = 1; // 1 = COM1, 2 = COM2
    std::int16_t signalMode = multiColourSigns;
    ColourCode signColour = colourRed; // used in mono-colour mode only

    friend bool operator==(const PanelSettings&, const PanelSettings&) = default;
};
