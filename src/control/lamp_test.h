// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/action_journal.h"
#include "control/panel_exchange.h"
#include "control/sign_sender.h"

#include <QObject>
#include <QTimer>

#include <functional>

// The lamp test: the LED times of green, then every LED red, green and yellow, each column from
// the left, each row from the top, all off, one step every stepMs, each an exchange of its own;
// then the chosen sign is put back as a click sends it. Its start and end are journaled, with the
// bytes it sent and how many steps reached the panel whole.
class LampTest final : public QObject {
    Q_OBJECT
public:
    static constexpr int stepMs = 300;
    static constexpr int stepCount = 20;

    // `putBack` sends the chosen sign again, once the last step is out.
    LampTest(PanelExchange& exchange, SignSender& sender, ActionJournal& journal, std::function<void()> putBack, QObject* parent = nullptr);

    [[nodiscard]] bool isRunning() const { return timer_.isActive(); }
    // The LED times, journaled as the test's start; the steps follow with run().
    void begin();
    // The first step now, the others on the test's timer.
    void run();
    // One step, or after the last the test's end and the put-back; its timer calls it.
    void step();
    // Ends a running test as `outcome` ("concluído", "interrompido").
    void finish(const QString& outcome);

private:
    PanelExchange& exchange_;
    SignSender& sender_;
    ActionJournal& journal_;
    std::function<void()> putBack_;
    QTimer timer_;
    int step_ = 0;
    int stepsSent_ = 0; // the steps that reached the panel whole
    qint64 bytes_ = 0;  // sent so far
    QString failure_;   // the first failure, if any
};
