// SPDX-License-Identifier: GPL-3.0-or-later
#include "signs/sign_table.h"

#include <array>

namespace {

// "Frente" is the one sign drawn in the green plane, so mono-colour mode shows that plane.
constexpr std::array<SignDescription, signCount> signs{{
    {&SignPatterns::patternStop, &PanelCommands::ledTimesRed, redPlane, 4, "Parar"},
    {&SignPatterns::patternForward, &PanelCommands::ledTimesGreen, greenPlane, 2, "Frente"},
    {&SignPatterns::patternRight, &PanelCommands::ledTimesYellow, redPlane, 3, "Direita"},
    {&SignPatterns::patternLeft, &PanelCommands::ledTimesYellow, redPlane, 1, "Esquerda"},
    {&SignPatterns::patternChequer1, &PanelCommands::ledTimesGreen, redPlane, 7, "Xadrez"},
}};

// The shape of each sign, and the form its colour word takes after it (Portuguese agrees the
// adjective with the noun): 0 masculine, 1 feminine, 2 masculine plural.
struct Shape {
    const char* noun;
    int form;
    const char* direction;
    const char* ownColour; // in multi-colour mode
};
constexpr std::array<Shape, signCount> shapes{{
    {"X", 0, "", "vermelho"},
    {"seta", 1, " para cima", "verde"},
    {"seta", 1, " para a direita", "amarela"},
    {"seta", 1, " para a esquerda", "amarela"},
    {"quadrados", 2, "", "vermelhos e verdes, animado"},
}};

std::string colourWord(ColourCode colour, int form)
{
    static constexpr std::array<std::array<const char*, 3>, 3> words{
        {{"vermelho", "vermelha", "vermelhos"}, {"verde", "verde", "verdes"}, {"amarelo", "amarela", "amarelos"}}};
    const std::size_t row = colour == colourGreen ? 1 : colour == colourYellow ? 2 : 0;
    return words[row][static_cast<std::size_t>(form)];
}

} // namespace

const SignDescription* describeSign(Sign kind)
{
    if (signIndex(kind) < 0 || signIndex(kind) >= signCount) return nullptr;
    return &signs[static_cast<std::size_t>(signIndex(kind))];
}

std::string signInWords(Sign kind, bool multiColour, ColourCode monoColour)
{
    const SignDescription* sign = describeSign(kind);
    if (sign == nullptr) return {};
    const Shape& shape = shapes[static_cast<std::size_t>(kind)];
    const std::string text = std::string(sign->caption) + ": " + shape.noun;
    if (multiColour) {
        // The arrows read better with the colour before the way they point.
        return text + " " + shape.ownColour + shape.direction;
    }
    if (*shape.direction != '\0') return text + shape.direction + ", " + colourWord(monoColour, shape.form);
    return text + " " + colourWord(monoColour, shape.form);
}
