// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/panel_commands.h"

#include "panel/line_error.h"

#include <array>
#include <limits>

namespace {

constexpr std::uint8_t prefix0 = 0xA5;
constexpr std::uint8_t prefix1 = 0x79;
constexpr std::uint8_t prefix2 = 0x5A;

constexpr std::uint8_t cmdDisplayOn = 0x71;
constexpr std::uint8_t cmdTestMode = 0x72;
constexpr std::uint8_t cmdRedPlane = 0x73;
constexpr std::uint8_t cmdGreenPlane = 0x74;
constexpr std::uint8_t cmdRedLedTime = 0x75;
constexpr std::uint8_t cmdGreenLedTime = 0x76;
constexpr std::uint8_t cmdSignCode = 0x7B;

[[noreturn]] void invalidArgument(const char* what) { throw LineException(LineError::InvalidArgument, what); }

std::uint8_t lineByte(std::int16_t value)
{
    if (value < 0 || value > 255) invalidArgument("Pattern line is not a byte value");
    return static_cast<std::uint8_t>(value);
}

} // namespace

void PanelCommands::write(std::span<const std::uint8_t> bytes)
{
    port_.write(bytes);
    bytesWritten_ += bytes.size();
}

void PanelCommands::command(std::uint8_t code)
{
    const std::array<std::uint8_t, 4> frame{prefix0, prefix1, prefix2, code};
    write(frame);
}

void PanelCommands::commandWithArgument(std::uint8_t code, std::uint8_t argument)
{
    const std::array<std::uint8_t, 5> frame{prefix0, prefix1, prefix2, code, argument};
    write(frame);
}

void PanelCommands::setLedTime(std::uint8_t code, std::int16_t ledTime)
{
    // 256 - LedTime, as 16-bit arithmetic would give it.
    const int difference = 256 - int{ledTime};
    if (difference > std::numeric_limits<std::int16_t>::max()) throw LineException(LineError::Overflow, "Overflow");
    if (difference < 0 || difference > 255) invalidArgument("LED time must be 1 to 256");
    commandWithArgument(code, static_cast<std::uint8_t>(difference));
}

void PanelCommands::display_on() { command(cmdDisplayOn); }
void PanelCommands::enter_test_mode() { command(cmdTestMode); }
void PanelCommands::command_78() { command(0x78); }
void PanelCommands::command_79() { command(0x79); }
void PanelCommands::command_7a() { command(0x7A); }
void PanelCommands::set_redled_time(std::int16_t ledTime) { setLedTime(cmdRedLedTime, ledTime); }
void PanelCommands::set_greenled_time(std::int16_t ledTime) { setLedTime(cmdGreenLedTime, ledTime); }

void PanelCommands::set_sign_code(const std::int16_t& code)
{
    if (code < 0 || code > 255) invalidArgument("Sign code must be 0 to 255");
    commandWithArgument(cmdSignCode, static_cast<std::uint8_t>(code));
}

void PanelCommands::ledTimesGreen()
{
    set_redled_time(100);
    set_greenled_time(100);
}

void PanelCommands::ledTimesRed()
{
    set_redled_time(25);
    set_greenled_time(175);
}

void PanelCommands::ledTimesYellow()
{
    set_redled_time(30);
    set_greenled_time(170);
}

void PanelCommands::upload(std::uint8_t code, const SignPattern& pattern, int plane)
{
    command(code);
    for (const auto& line : pattern) {
        const std::uint8_t byte = lineByte(line[static_cast<std::size_t>(plane)]);
        write(std::span(&byte, 1));
    }
}

void PanelCommands::uploadBlank(std::uint8_t code)
{
    command(code);
    constexpr std::uint8_t blank = 0;
    for (int line = 0; line < 8; ++line) write(std::span(&blank, 1));
}

void PanelCommands::sendPattern(const SignPattern& pattern)
{
    upload(cmdRedPlane, pattern, redPlane);
    upload(cmdGreenPlane, pattern, greenPlane);
}

void PanelCommands::sendPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane)
{
    if (plane != redPlane && plane != greenPlane) throw LineException(LineError::SubscriptOutOfRange, "Plane must be 0 or 1");
    switch (colour) {
    case colourRed:
        ledTimesRed();
        upload(cmdRedPlane, pattern, plane);
        uploadBlank(cmdGreenPlane);
        break;
    case colourGreen:
        ledTimesGreen();
        uploadBlank(cmdRedPlane);
        upload(cmdGreenPlane, pattern, plane);
        break;
    case colourYellow:
        ledTimesYellow();
        upload(cmdRedPlane, pattern, plane);
        upload(cmdGreenPlane, pattern, plane);
        break;
    default: break;
    }
}
