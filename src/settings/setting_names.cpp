// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setting_names.h"

namespace {
const QString red = QStringLiteral("Vermelho");
const QString green = QStringLiteral("Verde");
const QString yellow = QStringLiteral("Amarelo");
} // namespace

ColourCode colourFromName(const QString& name)
{
    if (name == green) return colourGreen;
    if (name == yellow) return colourYellow;
    return colourRed;
}

QString modeName(std::int16_t mode) { return mode == multiColourSigns ? QStringLiteral("multicor") : QStringLiteral("monocor"); }

QString colourName(ColourCode colour)
{
    if (colour == colourGreen) return green;
    if (colour == colourYellow) return yellow;
    return red;
}

QString signColourName(const PanelSettings& settings) { return settings.signalMode == multiColourSigns ? QString() : colourName(settings.signColour); }
