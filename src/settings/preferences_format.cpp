// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/preferences_format.h"

#include <array>

namespace {

constexpr std::string_view lineEnd = "\r\n";

[[nodiscard]] constexpr bool isSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
[[nodiscard]] constexpr bool isDigit(int c) { return c >= '0' && c <= '9'; }

// The first three lines, split at CR LF only: a lone CR or LF stays inside its line. Lines the
// text does not reach are empty, so a short file reads like one whose keys are missing.
[[nodiscard]] std::array<std::string_view, 3> firstThreeLines(std::string_view text)
{
    std::array<std::string_view, 3> lines{};
    for (auto& line : lines) {
        const auto end = text.find(lineEnd);
        line = text.substr(0, end);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + lineEnd.size());
    }
    return lines;
}

// Text from 1-based position `from` on, at most `count` characters; empty past the end.
[[nodiscard]] std::string_view mid(std::string_view line, std::size_t from, std::size_t count = std::string_view::npos)
{
    return line.size() < from ? std::string_view{} : line.substr(from - 1, count);
}

} // namespace

std::optional<std::int64_t> numericValue(std::string_view text)
{
    std::size_t i = 0;
    const auto peek = [&]() -> int {
        while (i < text.size() && isSkipped(text[i])) ++i;
        return i < text.size() ? static_cast<unsigned char>(text[i]) : -1;
    };

    int c = peek();
    const bool negative = c == '-';
    if (c == '-' || c == '+') {
        ++i;
        c = peek();
    }
    // The magnitude is kept unsigned so that the most negative 64-bit value is reachable.
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; isDigit(c); ++i, c = peek()) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) tooLarge = true;
        else magnitude = magnitude * 10 + digit;
    }

    // Rounding needs only the first fractional digit and whether any later one is non-zero,
    // which keeps it exact however many digits follow.
    int firstFraction = 0;
    bool laterFraction = false;
    if (c == '.') {
        ++i;
        c = peek();
        if (isDigit(c)) {
            firstFraction = c - '0';
            for (++i, c = peek(); isDigit(c); ++i, c = peek()) laterFraction = laterFraction || c != '0';
        }
    }
    const bool roundUp = firstFraction > 5 || (firstFraction == 5 && (laterFraction || magnitude % 2 == 1));
    if (roundUp) {
        if (magnitude == limit) tooLarge = true;
        else ++magnitude;
    }
    if (tooLarge) return std::nullopt;
    return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

PanelSettings parsePreferences(std::string_view fileText)
{
    PanelSettings settings;
    const auto [portLine, modeLine, colourLine] = firstThreeLines(fileText);

    // The port is the single character after "COM=": a second digit is never part of it.
    if (portLine.starts_with("COM")) {
        const auto port = numericValueAs<std::int16_t>(mid(portLine, 5, 1));
        if (port && isAcceptedPort(*port)) settings.comPort = *port;
    }
    // Mode and colour start at the blank after the equals sign, which the reading skips, so a
    // line written without that blank still reads.
    if (modeLine.starts_with("MODE")) {
        const auto mode = numericValueAs<std::int16_t>(mid(modeLine, 6));
        if (mode && isAcceptedMode(*mode)) settings.signalMode = *mode;
    }
    if (colourLine.starts_with("COLOUR")) {
        const auto colour = numericValueAs<ColourCode>(mid(colourLine, 8));
        if (colour && isAcceptedColour(*colour)) settings.signColour = *colour;
    }
    return settings;
}

std::string formatPreferences(const PanelSettings& settings)
{
    std::string text;
    text.append("COM=").append(std::to_string(settings.comPort)).append(lineEnd);
    text.append("MODE= ").append(std::to_string(settings.signalMode)).append(lineEnd);
    text.append("COLOUR= ").append(std::to_string(settings.signColour)).append(lineEnd);
    return text;
}
