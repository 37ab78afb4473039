// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the preferences reader: whatever the file holds, reading it must not
// crash and must leave every setting at one of its accepted values, and what the writer then
// writes must read back as the same settings.
#include "settings/preferences_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PanelSettings settings = parsePreferences(text);
    if (!isAcceptedPort(settings.comPort) || !isAcceptedMode(settings.signalMode) || !isAcceptedColour(settings.signColour)) std::abort();
    if (parsePreferences(formatPreferences(settings)) != settings) std::abort();
    (void)numericValue(text);
    return 0;
}
