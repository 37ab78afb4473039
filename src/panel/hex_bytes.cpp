// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/hex_bytes.h"

std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    constexpr const char* digits = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}
