#pragma once

#include "frame_decoder.h"

#include <QWidget>

class LedMatrix;
class QPlainTextEdit;

// The panel as an operator would see it: the lit matrix, and below it the frames that lit it.
class VirtualPanel : public QWidget {
    Q_OBJECT

public:
    explicit VirtualPanel(const QString& line, QWidget* parent = nullptr);

    void showMatrix(const Matrix& matrix);
    void appendLog(const QString& line);

private:
    LedMatrix* matrix_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};
