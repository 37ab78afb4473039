// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>

// An 8 x 8 dot matrix showing the red X: the window icon of the program and of the virtual panel.
[[nodiscard]] QIcon programIcon();
