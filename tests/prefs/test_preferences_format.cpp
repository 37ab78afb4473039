#include "prefs/preferences_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct ReaderCase {
    std::string file;
    PanelSettings expected;
};

TEST(PreferencesReader, FileBytesGiveSettings)
{
    const std::vector<ReaderCase> cases{
        {"COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n", {2, 2, 65280}},
        // Files too short to hold three lines: the missing ones count as keyless.
        {"", {1, 1, 255}},
        {"COM=2", {2, 1, 255}},
        {"COM=2\r\nMODE= 2", {2, 2, 255}},
        {"COM=2 MODE= 2 COLOUR= 65280", {2, 1, 255}},
        // Only the fifth character of the port line counts.
        {"COM=12\r\nMODE= 1\r\nCOLOUR= 255\r\n", {1, 1, 255}},
        {"COM=21xyz\r\nMODE= 1\r\nCOLOUR= 255\r\n", {2, 1, 255}},
        {"COM= 2\r\nMODE= 2\r\nCOLOUR= 65535\r\n", {1, 2, 65535}},
        {"COM=3\r\nMODE= 0\r\nCOLOUR= 123\r\n", {1, 1, 255}},
        {"COM:2\r\nMODE:2\r\nCOLOUR:65280\r\n", {2, 2, 65280}},
        {"COM=\r\nMODE=\r\nCOLOUR=\r\n", {1, 1, 255}},
        // Keys are case-sensitive and looked for in their own line only.
        {"com=2\r\nmode= 2\r\ncolour= 65280\r\n", {1, 1, 255}},
        {"MODE= 2\r\nCOM=2\r\nCOLOUR= 65535\r\n", {1, 1, 65535}},
        {"COM=2\r\nCOLOUR= 65535\r\n", {2, 1, 255}},
        {"COM=2\r\nMODE= 2\r\nCOLOUR= 65535\r\nCOM=1\r\nMODE= 1\r\n", {2, 2, 65535}},
        // A rejected colour leaves the mode alone.
        {"COM=1\r\nMODE= 2\r\nCOLOUR= 0\r\n", {1, 2, 255}},
        // The number stops at the first character that cannot continue it; blanks, tabs and
        // line feeds are skipped wherever they stand, CR is not.
        {"COM=1\r\nMODE= 2 xyz\r\nCOLOUR= 65280.\r\n", {1, 2, 65280}},
        {"COM=1\r\nMODE= 2 2\r\nCOLOUR= 6 5\t2\n80\r\n", {1, 1, 65280}},
        {"COM=2\rMODE= 2\r\nMODE= 2\r\nCOLOUR= 65\r280\r\n", {2, 2, 255}},
        {"COM=1\r\nMODE= +2\r\nCOLOUR= -65280\r\n", {1, 2, 255}},
        // Rounding, a half to the even neighbour.
        {"COM=1\r\nMODE= 2.5\r\nCOLOUR= 65279.5\r\n", {1, 2, 65280}},
        {"COM=1\r\nMODE= 1.5\r\nCOLOUR= 65534.5\r\n", {1, 2, 255}},
        {"COM=1\r\nMODE= 2.5000001\r\nCOLOUR= 65534.50000000000000000001\r\n", {1, 1, 65535}},
        // Too large for the field: rejected, never wrapped round onto an accepted value.
        {"COM=1\r\nMODE= 99999\r\nCOLOUR= 4294967551\r\n", {1, 1, 255}},
        {"COM=1\r\nMODE= 65538\r\nCOLOUR= 4295032831\r\n", {1, 1, 255}},
        {"COM=1\r\nMODE= 99999999999999999999999\r\nCOLOUR= 65280\r\n", {1, 1, 65280}},
        {"COM=2\r\nMODE= 2\0\r\nCOLOUR= 65535\r\n"s, {2, 2, 65535}},
    };
    for (const auto& [file, expected] : cases)
        EXPECT_EQ(parsePreferences(file), expected) << testing::PrintToString(file);
}

TEST(PreferencesReader, NumericValueAtTheEdgesOf64Bits)
{
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases{
        {"- 3.5", -4}, {"9223372036854775807.4", INT64_MAX}, {"9223372036854775807.5", std::nullopt},
        {"-9223372036854775808.5", INT64_MIN}, {"-9223372036854775808.6", std::nullopt}};
    for (const auto& [text, expected] : cases) EXPECT_EQ(numericValue(text), expected) << text;
}

} // namespace
