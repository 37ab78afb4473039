// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// The keep-alive: every `seconds` (0 is off), counted from the last time a sign was chosen, the
// chosen sign goes again, for a panel that restarted or went dark without a signal.
class KeepAlive final : public QObject {
    Q_OBJECT
public:
    static constexpr int maxSeconds = 3600;

    explicit KeepAlive(std::function<void()> resend, QObject* parent = nullptr);

    void setSeconds(int seconds);
    [[nodiscard]] int seconds() const { return timer_.interval() / 1000; }
    [[nodiscard]] bool isActive() const { return timer_.isActive(); }
    // A sign was chosen: the next resend is a whole interval away.
    void restart();
    // The resend; its timer calls it.
    void tick() { resend_(); }

private:
    std::function<void()> resend_;
    QTimer timer_;
};
