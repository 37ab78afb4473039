// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/sign_pattern.h"

#include <QString>

#include <cstdint>

// Where the operator sees what the panel was last told to show: the 8 x 8 matrix as it is drawn
// and its words, marked while a send since did not go out whole. The window's preview is one; a
// post without a screen has none to draw on.
class SignView {
public:
    virtual ~SignView() = default;

    virtual void drawPattern(const SignPattern& pattern) = 0;
    virtual void drawPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane) = 0;
    // What the matrix shows, in words.
    virtual void setDescription(const QString& text) = 0;
    // The picture is not what the panel shows, as a send failed since it was drawn; `note` says
    // what went out last.
    virtual void markStale(const QString& note) = 0;
    virtual void clearStale() = 0;
};
