// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/sign_pattern.h"

#include <array>
#include <cstdint>

// The 8 x 8 dots a pattern lights, each in its colour or 0 when dark, indexed [line][bit] as
// the pattern is: line 0 is the rightmost column, bit 0 the top row.
using DotMatrix = std::array<std::array<ColourCode, 8>, 8>;
inline constexpr ColourCode darkDot = 0;

// Both planes: red, green, or yellow where both are lit.
[[nodiscard]] DotMatrix dotsOf(const SignPattern& pattern);
// One plane in one colour; a plane that does not exist lights nothing.
[[nodiscard]] DotMatrix dotsOfMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane);
