// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

// An 8 x 8 two-colour image indexed [line][plane]: plane 0 the red LEDs, plane 1 the green
// ones, one byte of dots per line. Line 0 is the rightmost column, bit 0 the top row.
using SignPattern = std::array<std::array<std::int16_t, 2>, 8>;

inline constexpr int redPlane = 0;
inline constexpr int greenPlane = 1;

// A colour laid out 0x00BBGGRR.
using ColourCode = std::int32_t;

// The three colours a sign can be shown in.
inline constexpr ColourCode colourRed = 255;
inline constexpr ColourCode colourGreen = 65280;
inline constexpr ColourCode colourYellow = 65535;
