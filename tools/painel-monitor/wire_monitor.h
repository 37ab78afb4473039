#pragma once

#include "frame_decoder.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Turns the bytes received from the line into log lines on standard output, one a frame, each
// written out at once so that a reader at the other end of a pipe sees it as it happens.
class WireMonitor : public QObject {
    Q_OBJECT

public:
    explicit WireMonitor(QObject* parent = nullptr);

    void take(const QByteArray& bytes);
    // Reports anything still held back; for the way out.
    void finish();

signals:
    // A frame's line; the matrix rows come separately.
    void logged(const QString& line);
    void matrixShown(const Matrix& matrix);

private:
    void report(const std::vector<WireEvent>& events, double atMs);
    void print(const QString& line);

    FrameDecoder decoder_;
    QElapsedTimer clock_;
    QTimer quiet_;
    double lastArrivalMs_ = 0;
};
