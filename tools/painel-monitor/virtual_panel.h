// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "frame_decoder.h"

#include <QWidget>

#include <optional>

class CableEcho;
class LedMatrix;
class QLabel;
class QPlainTextEdit;

// The panel as an operator would see it: the lit matrix, and below it the frames that lit it.
class VirtualPanel : public QWidget {
    Q_OBJECT

public:
    explicit VirtualPanel(const QString& line, QWidget* parent = nullptr);

    void showMatrix(const Matrix& matrix);
    void appendLog(const QString& line);
    // The age of the last valid frame, and whether the panel counts as without signal.
    void showAge(std::optional<double> seconds);
    void showSilence(bool silent);
    // The cable's loop, with the means to cut it and to garble a byte.
    void controlEcho(CableEcho& echo);

private:
    LedMatrix* matrix_ = nullptr;
    QLabel* age_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};
