// SPDX-License-Identifier: GPL-3.0-or-later
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
    // A line of the monitor's own in the log, time-stamped as the frames are.
    void note(const QString& text);
    // After this long without a valid frame the panel counts as without signal, and says so
    // once in the log; 0 (the default) never.
    void setSilenceLimit(double seconds);
    // Since the last valid frame arrived, or since the monitor started when none has yet.
    [[nodiscard]] double secondsSinceValidFrame() const;
    [[nodiscard]] bool hasSeenValidFrame() const { return seenValidFrame_; }

signals:
    // A frame's line; the matrix rows come separately.
    void logged(const QString& line);
    void matrixShown(const Matrix& matrix);
    void silenceChanged(bool silent);

private:
    void report(const std::vector<WireEvent>& events, double atMs);
    void print(const QString& line);

    void announceSilence();

    FrameDecoder decoder_;
    QElapsedTimer clock_;
    QTimer quiet_;
    QTimer silence_;
    double lastArrivalMs_ = 0;
    double lastValidMs_ = 0;
    bool seenValidFrame_ = false;
    bool silent_ = false;
};
