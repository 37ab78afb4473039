// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QDialog;
class QVBoxLayout;

// A dialog's body, which scrolls when the screen is too short for it (a large scale on a small
// screen), above the dialog's buttons, which never scroll away. Returns the body's layout; the
// buttons go in `outer` after it.
[[nodiscard]] QVBoxLayout* scrollingBody(QDialog& dialog, QVBoxLayout& outer);
// Sizes the dialog to `width`, or its body's widest line, and to show its whole body, as far as
// the screen allows, keeping it on the screen.
void fitBodyToScreen(QDialog& dialog, int width);
