#pragma once

#include <QImage>

#include <cmath>
#include <string>

// The matrix an image shows, read at every dot centre: one row per dot row from the top, dots
// left to right; R red, G green, Y yellow, . background, ? anything else.
inline std::string pictureOf(const QImage& image)
{
    // Dots 325 twips apart, the first centred 350 twips in; 15 twips to the pixel.
    const auto pixel = [&](int index) {
        return int(std::floor((350 + 325 * index) / 15.0 * image.devicePixelRatio()));
    };
    std::string picture;
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const QRgb rgb = image.pixel(pixel(column), pixel(row)) & 0xFFFFFF;
            switch (rgb) {
            case 0xFF0000: picture += 'R'; break;
            case 0x00FF00: picture += 'G'; break;
            case 0xFFFF00: picture += 'Y'; break;
            case 0x808080: picture += '.'; break;
            default: picture += '?';
            }
        }
        picture += '\n';
    }
    return picture;
}
