// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <string>

class QSocketNotifier;
class QTimer;

// A pseudo-terminal whose line discipline passes every byte through untouched (no LF to CR LF,
// no echo), at the panel's 9600 8N1, both ends close-on-exec. Throws std::runtime_error when
// none can be had.
struct RawPty {
    int master = -1;
    int slave = -1;
    std::string slavePath;
};
[[nodiscard]] RawPty openRawPty();

// A pseudo-terminal whose slave device stands in for the panel's serial port: whatever a sender
// writes to the slave is received here from the master.
class PtyLine : public QObject {
    Q_OBJECT

public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    explicit PtyLine(QObject* parent = nullptr);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    [[nodiscard]] QString slavePath() const { return slavePath_; }
    // A path to the slave device that lasts exactly as long as this process: its own open
    // descriptor under /proc. A link to it dangles the moment the monitor is gone, however it
    // ended, so nobody writes to a pseudo-terminal that another program has taken over since.
    [[nodiscard]] QString processBoundPath() const;
    // Bytes to the sender, as a cable looped at the panel's end would send them back.
    void send(const QByteArray& bytes);

    // A sender killed while it had the line open leaves it in exclusive mode (TIOCEXCL), which
    // only the last close clears; the slave kept open here means that close never comes, and
    // every later sender would be refused. Cleared once no other process has the line open;
    // called every releaseCheckMs.
    void releaseAbandonedExclusion();
    static constexpr int releaseCheckMs = 250;

signals:
    void received(const QByteArray& bytes);

private:
    void readAvailable();

    int master_ = -1;
    int slaveKeeper_ = -1;
    QString slavePath_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* releaseCheck_ = nullptr;
};
