// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/panel_settings.h"

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// The number a piece of text stands for, read the way the preferences file has always been
// read: blanks, tabs and line feeds are skipped wherever they stand; then an optional sign,
// digits, an optional decimal point and more digits, up to the first character that cannot
// continue the number. No number at all is 0. The result is rounded to the nearest integer,
// a half to the even neighbour. nullopt when it does not fit in 64 bits.
[[nodiscard]] std::optional<std::int64_t> numericValue(std::string_view text);

// The same, for a field of type T: nullopt when the rounded value does not fit in T, so that
// an oversized number is rejected rather than wrapped round into an accepted one.
template <std::integral T>
[[nodiscard]] std::optional<T> numericValueAs(std::string_view text)
{
    const auto value = numericValue(text);
    if (!value || *value < std::numeric_limits<T>::min() || *value > std::numeric_limits<T>::max()) return std::nullopt;
    return static_cast<T>(*value);
}

// The settings a preferences file's contents give. Never fails: each line that is missing,
// lacks its key or carries a value outside its accepted set gives its setting the default.
[[nodiscard]] PanelSettings parsePreferences(std::string_view fileText);

// The file's exact bytes: three lines "COM=", "MODE= ", "COLOUR= " with their values in plain
// decimal, each ended by CR LF on every platform, so a file carried between systems reads the
// same. Values are written as they stand.
[[nodiscard]] std::string formatPreferences(const PanelSettings& settings);

[[nodiscard]] constexpr bool isAcceptedPort(std::int64_t v) { return v == 1 || v == 2; }
[[nodiscard]] constexpr bool isAcceptedMode(std::int64_t v) { return v == multiColourSigns || v == monoColourSigns; }
[[nodiscard]] constexpr bool isAcceptedColour(std::int64_t v) { return v == colourRed || v == colourGreen || v == colourYellow; }
