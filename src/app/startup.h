// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>

class QMessageBox;

// Runs the program inside an existing QApplication; returns its exit code.
int runPanelProgram();

// What a second copy shows the operator before it ends.
[[nodiscard]] std::unique_ptr<QMessageBox> secondCopyMessage();
