// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What a post says, as the control room may show it, whoever wrote it.

// Whether a character is drawn as something one can see and read out: letters, digits,
// punctuation and symbols (emoji among them); not marks alone, blanks or what is never drawn.
[[nodiscard]] bool isVisible(uint c);
// One line of at most `chars` characters, whole characters counted (an emoji is one). Control
// and format characters (a right-to-left override would turn a tile's text around) become
// blanks; marks, letters and symbols stay.
[[nodiscard]] QString shownText(const QString& field, qsizetype chars = 200);
