#pragma once

#include <array>
#include <cstdint>

// An 8 x 8 two-colour image indexed [line][plane]: plane 0 the red LEDs, plane 1 the green
// ones, one byte of dots per line. Line 0 is the rightmost column, bit 0 the top row.
using SignPattern = std::array<std::array<std::int16_t, 2>, 8>;

inline constexpr int redPlane = 0;
inline constexpr int greenPlane = 1;

// All zero until initPatterns has filled them.
struct SignPatterns {
    SignPattern patternStop{};
    SignPattern patternForward{};
    SignPattern patternRight{};
    SignPattern patternLeft{};
    SignPattern patternChequer1{};
    SignPattern patternChequer2{};
};

void initPatterns(SignPatterns& patterns);
