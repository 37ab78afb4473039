// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_commands.h"
#include "signs/sign_patterns.h"

#include <array>
#include <cstdint>
#include <string>

// The Index of a sign button: 0 "Parar", 1 "Frente", 2 "Direita", 3 "Esquerda", 4 "Xadrez".
using SignKind = std::int16_t;

inline constexpr SignKind signStop = 0;
inline constexpr SignKind signChequer = 4;
inline constexpr SignKind signKindCount = 5;
// The buttons top to bottom, as the keys 1 to 5 choose them.
inline constexpr std::array<SignKind, 5> signsInScreenOrder{0, 1, 3, 2, 4};

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
[[nodiscard]] const SignDescription* describeSign(SignKind kind);

// What the panel shows for a sign, in words, for those who cannot see the preview: "Parar: X
// vermelho", "Frente: seta para cima, amarela", "Xadrez: quadrados vermelhos e verdes, animado".
[[nodiscard]] std::string signInWords(SignKind kind, bool multiColour, ColourCode monoColour);
