// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

// Tahoma where it is installed; otherwise the desktop's sans-serif face at the same size.
[[nodiscard]] inline QFont tahoma(double points, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
