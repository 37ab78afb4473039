#include "signs/sign_table.h"

#include <array>

namespace {

// "Frente" is the one sign drawn in the green plane, so mono-colour mode shows that plane.
constexpr std::array<SignDescription, signKindCount> signs{{
    {&SignPatterns::patternStop, &PanelCommands::ledTimesRed, redPlane, 4},
    {&SignPatterns::patternForward, &PanelCommands::ledTimesGreen, greenPlane, 2},
    {&SignPatterns::patternRight, &PanelCommands::ledTimesYellow, redPlane, 3},
    {&SignPatterns::patternLeft, &PanelCommands::ledTimesYellow, redPlane, 1},
    {&SignPatterns::patternChequer1, &PanelCommands::ledTimesGreen, redPlane, 7},
}};

} // namespace

const SignDescription* describeSign(SignKind kind)
{
    if (kind < 0 || kind >= signKindCount) return nullptr;
    return &signs[static_cast<std::size_t>(kind)];
}
