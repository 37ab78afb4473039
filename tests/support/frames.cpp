#include "frames.h"

#include <charconv>

std::string hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += "0123456789ABCDEF"[b >> 4];
        text += "0123456789ABCDEF"[b & 0xF];
    }
    return text;
}

Bytes fromHex(std::string_view text)
{
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
        std::uint8_t b = 0;
        std::from_chars(text.data() + i, text.data() + i + 2, b, 16);
        bytes.push_back(b);
    }
    return bytes;
}
