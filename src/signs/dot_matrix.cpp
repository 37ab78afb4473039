// SPDX-License-Identifier: GPL-3.0-or-later
#include "signs/dot_matrix.h"

namespace {
bool lit(std::int16_t line, std::size_t bit) { return (line >> bit & 1) != 0; }
} // namespace

DotMatrix dotsOf(const SignPattern& pattern)
{
    DotMatrix dots{};
    for (std::size_t line = 0; line < 8; ++line)
        for (std::size_t bit = 0; bit < 8; ++bit) {
            const bool red = lit(pattern[line][redPlane], bit);
            const bool green = lit(pattern[line][greenPlane], bit);
            dots[line][bit] = red && green ? colourYellow : red ? colourRed : green ? colourGreen : darkDot;
        }
    return dots;
}

DotMatrix dotsOfMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane)
{
    DotMatrix dots{};
    // Planes other than 0 and 1 do not exist; showing nothing beats reading out of bounds.
    if (plane != redPlane && plane != greenPlane) return dots;
    for (std::size_t line = 0; line < 8; ++line)
        for (std::size_t bit = 0; bit < 8; ++bit) dots[line][bit] = lit(pattern[line][static_cast<std::size_t>(plane)], bit) ? colour : darkDot;
    return dots;
}
