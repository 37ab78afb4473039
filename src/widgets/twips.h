// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QSize>

// Layouts are given in twips: 15 of them to a pixel at 96 dots per inch. Every window of the
// program places its controls through these.
inline constexpr int twipsPerPixel = 15;
[[nodiscard]] constexpr int twips(int t) { return (t + twipsPerPixel / 2) / twipsPerPixel; }
[[nodiscard]] inline QRect twipsRect(int left, int top, int width, int height) { return {twips(left), twips(top), twips(width), twips(height)}; }
[[nodiscard]] inline QSize twipsSize(int width, int height) { return {twips(width), twips(height)}; }
