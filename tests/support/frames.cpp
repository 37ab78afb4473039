#include "frames.h"

#include <cstdio>
#include <sstream>

std::string hex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    char two[4];
    for (const std::uint8_t b : bytes) text.append(two, std::snprintf(two, sizeof two, text.empty() ? "%02X" : " %02X", b));
    return text;
}

Bytes fromHex(std::string_view text)
{
    Bytes bytes;
    std::istringstream in{std::string(text)};
    for (unsigned b = 0; in >> std::hex >> b;) bytes.push_back(std::uint8_t(b));
    return bytes;
}
