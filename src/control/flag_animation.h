// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/action_journal.h"
#include "control/panel_exchange.h"
#include "control/sign_sender.h"

#include <QObject>
#include <QTimer>

// The chequered flag in multi-colour mode: its two images in turn on Timer1, every 250 ms, each
// tick an exchange of its own. While the line fails part-way the flag tries once a second,
// keeping its image, and its pace comes back with the first tick that gets through; a port that
// does not open costs nothing, so the pace stays.
class FlagAnimation final : public QObject {
    Q_OBJECT
public:
    static constexpr int chequerIntervalMs = 250;
    static constexpr int failingLineRetryMs = 1000;

    FlagAnimation(PanelExchange& exchange, SignSender& sender, ActionJournal& journal, QObject* parent = nullptr);

    // Timer1.
    [[nodiscard]] QTimer& timer() { return timer_; }
    [[nodiscard]] bool isRunning() const { return timer_.isActive(); }
    // Started unless it runs: choosing the flag again keeps the running cadence.
    void start();
    void stop() { timer_.stop(); }
    // Timer1's tick: the next image, after which the phase flips, once it is out whole.
    void tick();
    // A choice or the lamp test started or stopped the flag: journaled, by whom.
    void noteChange(bool wasRunning, Origin origin);

private:
    PanelExchange& exchange_;
    SignSender& sender_;
    ActionJournal& journal_;
    QTimer timer_;
    bool firstImageNext_ = false;
    FailureRun failures_;
};
