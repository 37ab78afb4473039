// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "signs/dot_matrix.h"
#include "signs/sign_view.h"

#include <map>
#include <string>

// What a session shows in its view, recorded: the dots as last drawn, the words, and whether it
// is marked as not what the panel shows, with the note.
class RecordingView final : public SignView {
public:
    void drawPattern(const SignPattern& pattern) override { dots = dotsOf(pattern), drawn = true; }
    void drawPatternMono(const SignPattern& pattern, ColourCode colour, std::int16_t plane) override { dots = dotsOfMono(pattern, colour, plane), drawn = true; }
    void setDescription(const QString& text) override { description = text; }
    void markStale(const QString& text) override { stale = true, note = text; }
    void clearStale() override { stale = false, note.clear(); }

    // The dots a row a line from the top, left to right, as frames::picture writes them: R red,
    // G green, Y yellow, . dark.
    [[nodiscard]] std::string picture() const
    {
        const std::map<ColourCode, char> names{{colourRed, 'R'}, {colourGreen, 'G'}, {colourYellow, 'Y'}, {darkDot, '.'}};
        std::string text;
        for (std::size_t bit = 0; bit < 8; ++bit) {
            for (std::size_t column = 0; column < 8; ++column) text += names.at(dots[7 - column][bit]);
            text += '\n';
        }
        return text;
    }
    // What the operator reads: the note while marked, the words otherwise.
    [[nodiscard]] QString shownText() const { return stale ? note : description; }

    DotMatrix dots{};
    bool drawn = false;
    QString description;
    bool stale = false;
    QString note;
};
