// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/port_settings.h"

#include "panel/numbered_error.h"

#include <charconv>
#include <vector>

namespace {

[[noreturn]] void rejectSettings(std::string_view text)
{
    throw NumberedError(errnum::invalidPropertyValue,
                        "Invalid property value: \"" + std::string(text) + "\"");
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

} // namespace

PortSettings parsePortSettings(std::string_view text)
{
    std::vector<std::string_view> fields;
    std::string_view rest = text;
    for (;;) {
        const auto comma = rest.find(',');
        fields.push_back(trimmed(rest.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    if (fields.size() != 4) rejectSettings(text);

    PortSettings s;
    const auto baud = fields[0];
    const auto [end, ec] = std::from_chars(baud.data(), baud.data() + baud.size(), s.baud);
    if (ec != std::errc{} || end != baud.data() + baud.size() || s.baud <= 0) rejectSettings(text);

    if (fields[1].size() != 1) rejectSettings(text);
    switch (fields[1][0]) {
    case 'N': case 'n': s.parity = Parity::None; break;
    case 'E': case 'e': s.parity = Parity::Even; break;
    case 'O': case 'o': s.parity = Parity::Odd; break;
    case 'M': case 'm': s.parity = Parity::Mark; break;
    case 'S': case 's': s.parity = Parity::Space; break;
    default: rejectSettings(text);
    }

    if (fields[2].size() != 1 || fields[2][0] < '5' || fields[2][0] > '8') rejectSettings(text);
    s.dataBits = fields[2][0] - '0';

    if (fields[3] == "1") s.stopBits = StopBits::One;
    else if (fields[3] == "1.5") s.stopBits = StopBits::OneAndHalf;
    else if (fields[3] == "2") s.stopBits = StopBits::Two;
    else rejectSettings(text);
    return s;
}

std::string settingsString(std::int16_t baud)
{
    const std::string number = std::to_string(baud);
    return (baud >= 0 ? " " + number : number) + ",N,8,1";
}

double wireSeconds(const PortSettings& settings, std::int64_t bytes)
{
    const double stop = settings.stopBits == StopBits::One ? 1.0
                        : settings.stopBits == StopBits::OneAndHalf ? 1.5 : 2.0;
    const double bitsPerByte =
        1.0 + settings.dataBits + (settings.parity == Parity::None ? 0.0 : 1.0) + stop;
    return static_cast<double>(bytes) * bitsPerByte / settings.baud;
}
