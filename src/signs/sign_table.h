// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_commands.h"
#include "signs/sign_patterns.h"

#include <array>
#include <cstdint>
#include <string>

// A sign, by the Index of its button: 0 "Parar", 1 "Frente", 2 "Direita", 3 "Esquerda",
// 4 "Xadrez". Any other value is no sign, and sends and shows nothing.
enum class Sign : std::int16_t { Stop = 0, Ahead = 1, Right = 2, Left = 3, Chequer = 4 };
inline constexpr int signCount = 5;
[[nodiscard]] constexpr std::int16_t signIndex(Sign sign) { return static_cast<std::int16_t>(sign); }
// The buttons top to bottom, as the keys 1 to 5 choose them.
inline constexpr std::array<Sign, 5> signsInScreenOrder{Sign::Stop, Sign::Ahead, Sign::Left, Sign::Right, Sign::Chequer};

// What one sign sends and shows. The multi-colour LED times are the sign's own; in mono-colour
// mode the colour's LED times apply instead, and only `monoPlane` of the pattern is shown.
struct SignDescription {
    SignPattern SignPatterns::*pattern;
    void (PanelCommands::*ledTimes)();
    std::int16_t monoPlane;
    std::int16_t code;
    const char* caption; // the button's, UTF-8
};

// nullptr for anything that is not a sign button's Index.
[[nodiscard]] const SignDescription* describeSign(Sign kind);

// What the panel shows for a sign, in words, for those who cannot see the preview: "Parar: X
// vermelho", "Frente: seta para cima, amarela", "Xadrez: quadrados vermelhos e verdes, animado".
[[nodiscard]] std::string signInWords(Sign kind, bool multiColour, ColourCode monoColour);
