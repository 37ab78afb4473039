// SPDX-License-Identifier: GPL-3.0-or-later
#include "signs/sign_patterns.h"

namespace {

using Lines = std::array<std::int16_t, 8>;

void build(SignPattern& pattern, const Lines& red, const Lines& green)
{
    for (std::size_t line = 0; line < pattern.size(); ++line) {
        pattern[line][redPlane] = red[line];
        pattern[line][greenPlane] = green[line];
    }
}

constexpr Lines none{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr Lines chequerA{0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC};
constexpr Lines chequerB{0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33};
constexpr Lines arrowRight{0x10, 0x38, 0x7C, 0xFE, 0x38, 0x38, 0x38, 0x38};
constexpr Lines arrowLeft{0x38, 0x38, 0x38, 0x38, 0xFE, 0x7C, 0x38, 0x10};
constexpr Lines arrowUp{0x00, 0x08, 0x0C, 0xFE, 0xFF, 0xFE, 0x0C, 0x08};
constexpr Lines cross{0xC3, 0xE7, 0x7E, 0x3C, 0x3C, 0x7E, 0xE7, 0xC3};

} // namespace

void initPatterns(SignPatterns& p)
{
    build(p.patternChequer1, chequerA, chequerB);
    build(p.patternChequer2, chequerB, chequerA);
    build(p.patternRight, arrowRight, arrowRight);
    build(p.patternLeft, arrowLeft, arrowLeft);
    build(p.patternForward, none, arrowUp);
    build(p.patternStop, cross, none);
}
