// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include <functional>
#include <map>
#include <string>

// The matrix `image` shows, read at each dot's centre in pixels: a row per dot row from the top,
// R red, G green, Y yellow, . `background`, ? anything else, as frames::picture writes them.
[[nodiscard]] inline std::string matrixOf(const QImage& image, const std::function<QPoint(int row, int column)>& centre, QRgb background)
{
    const std::map<QRgb, char> dots{{0xFF0000, 'R'}, {0x00FF00, 'G'}, {0xFFFF00, 'Y'}, {background, '.'}};
    std::string picture;
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const auto dot = dots.find(image.pixel(centre(row, column)) & 0xFFFFFF);
            picture += dot == dots.end() ? '?' : dot->second;
        }
        picture += '\n';
    }
    return picture;
}
