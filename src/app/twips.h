#pragma once

#include <QRect>
#include <QSize>
#include <QtMath>

// Layouts are given in twips: 15 of them to a pixel at 96 dots per inch.
[[nodiscard]] constexpr int twips(int t) { return (t + 7) / 15; }
[[nodiscard]] inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}
[[nodiscard]] inline QSize twipsSize(int width, int height) { return {twips(width), twips(height)}; }
