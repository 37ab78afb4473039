// SPDX-License-Identifier: GPL-3.0-or-later
#include "program_icon.h"

QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 256}) icon.addFile(QStringLiteral(":/icons/painel-sinaletico-%1.png").arg(size), QSize(size, size));
    return icon;
}
