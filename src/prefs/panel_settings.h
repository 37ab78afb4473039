#pragma once

#include <cstdint>

// A colour laid out 0x00BBGGRR.
using ColourCode = std::int32_t;

inline constexpr ColourCode colourRed = 255;
inline constexpr ColourCode colourGreen = 65280;
inline constexpr ColourCode colourYellow = 65535;
inline constexpr ColourCode previewBackground = 0x808080;

inline constexpr std::int16_t multiColourSigns = 1;
inline constexpr std::int16_t monoColourSigns = 2;

// The operator's three settings. After start-up and after every confirmed preferences dialog
// each field holds one of its accepted values.
struct PanelSettings {
    std::int16_t comPort = 1;                 // 1 = COM1, 2 = COM2
    std::int16_t signalMode = multiColourSigns;
    ColourCode signColour = colourRed;        // used in mono-colour mode only

    friend bool operator==(const PanelSettings&, const PanelSettings&) = default;
};
