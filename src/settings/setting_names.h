// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/panel_settings.h"

#include <QString>

// The settings as the operator, the journal and other programs name them.

// Every name but "Verde" and "Amarelo" (exact, case-sensitive) means red.
[[nodiscard]] ColourCode colourFromName(const QString& name);
// Every code but green and yellow is shown as red.
[[nodiscard]] QString colourName(ColourCode colour);
// "multicor" or "monocor".
[[nodiscard]] QString modeName(std::int16_t mode);
// The colour of mono-colour signs, or nothing when the signs are multi-colour.
[[nodiscard]] QString signColourName(const PanelSettings& settings);
