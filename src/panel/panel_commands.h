// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/serial_port.h"
#include "panel/sign_pattern.h"

#include <cstdint>
#include <span>

// Builds the panel's command frames and hands them to the port, one write per frame and one
// write per line byte of an upload. Arguments are checked before anything is written.
class PanelCommands {
public:
    explicit PanelCommands(SerialPort& port) : port_(port) {}

    void display_on();
    void enter_test_mode();
    void set_redled_time(std::int16_t ledTime);
    void set_greenled_time(std::int16_t ledTime);
    void command_78();
    void command_79();
    void command_7a();
    void set_sign_code(const std::int16_t& code);

    void ledTimesGreen();
    void ledTimesRed();
    void ledTimesYellow();

    void sendPattern(const SignPattern& pattern);
    // Sends one plane of the pattern in one colour, preceded by that colour's LED times.
    // A colour other than red, green or yellow sends nothing.
    void sendPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane);

    // Every byte the port has accepted through these commands since they were made.
    [[nodiscard]] std::uint64_t bytesWritten() const { return bytesWritten_; }

private:
    void write(std::span<const std::uint8_t> bytes);
    void command(std::uint8_t code);
    void commandWithArgument(std::uint8_t code, std::uint8_t argument);
    void setLedTime(std::uint8_t code, std::int16_t ledTime);
    void upload(std::uint8_t code, const SignPattern& pattern, int plane);
    void uploadBlank(std::uint8_t code);

    SerialPort& port_;
    std::uint64_t bytesWritten_ = 0;
};
