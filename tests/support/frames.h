// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/hex_bytes.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Every frame in the tests is written as hex text, "A5 79 5A 71", as hexBytes writes it.
[[nodiscard]] inline Bytes fromHex(const std::string& text)
{
    Bytes bytes;
    std::istringstream in(text);
    for (unsigned b = 0; in >> std::hex >> b;) bytes.push_back(std::uint8_t(b));
    return bytes;
}

namespace frames {

// The panel's own start-up before its first sign: the LED times and display_on.
inline const std::string startup = "A5 79 5A 75 E7 A5 79 5A 76 51 A5 79 5A 71";

// Each sign as a multi-colour click sends it (43 bytes), by its Index: LED times, red plane,
// green plane, sign code, display_on.
inline const std::array<std::string, 5> sign{
    "A5 79 5A 75 E7 A5 79 5A 76 51 A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3 "
    "A5 79 5A 74 00 00 00 00 00 00 00 00 A5 79 5A 7B 04 A5 79 5A 71",
    "A5 79 5A 75 9C A5 79 5A 76 9C A5 79 5A 73 00 00 00 00 00 00 00 00 "
    "A5 79 5A 74 00 08 0C FE FF FE 0C 08 A5 79 5A 7B 02 A5 79 5A 71",
    "A5 79 5A 75 E2 A5 79 5A 76 56 A5 79 5A 73 10 38 7C FE 38 38 38 38 "
    "A5 79 5A 74 10 38 7C FE 38 38 38 38 A5 79 5A 7B 03 A5 79 5A 71",
    "A5 79 5A 75 E2 A5 79 5A 76 56 A5 79 5A 73 38 38 38 38 FE 7C 38 10 "
    "A5 79 5A 74 38 38 38 38 FE 7C 38 10 A5 79 5A 7B 01 A5 79 5A 71",
    "A5 79 5A 75 9C A5 79 5A 76 9C A5 79 5A 73 33 33 CC CC 33 33 CC CC "
    "A5 79 5A 74 CC CC 33 33 CC CC 33 33 A5 79 5A 7B 07 A5 79 5A 71",
};

// What each of those shows on the panel, top row first: R red, G green, Y yellow, . off.
inline const std::array<std::string, 5> picture{
    "RR....RR\nRRR..RRR\n.RRRRRR.\n..RRRR..\n..RRRR..\n.RRRRRR.\nRRR..RRR\nRR....RR\n", "...G....\n..GGG...\n.GGGGG..\nGGGGGGG.\n..GGG...\n..GGG...\n..GGG...\n..GGG...\n",
    "........\n....Y...\n....YY..\nYYYYYYY.\nYYYYYYYY\nYYYYYYY.\n....YY..\n....Y...\n", "........\n...Y....\n..YY....\n.YYYYYYY\nYYYYYYYY\n.YYYYYYY\n..YY....\n...Y....\n",
    "GGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\n",
};
inline const std::string chequer2Picture = "RRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\nRRGGRRGG\nRRGGRRGG\nGGRRGGRR\nGGRRGGRR\n";

// The two chequer images a tick of the animation uploads, the second first.
inline const std::string chequerTick2 = "A5 79 5A 73 CC CC 33 33 CC CC 33 33 A5 79 5A 74 33 33 CC CC 33 33 CC CC";
inline const std::string chequerTick1 = "A5 79 5A 73 33 33 CC CC 33 33 CC CC A5 79 5A 74 CC CC 33 33 CC CC 33 33";

} // namespace frames
