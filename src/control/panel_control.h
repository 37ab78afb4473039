// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/action_journal.h"
#include "control/flag_animation.h"
#include "control/keep_alive.h"
#include "control/lamp_test.h"
#include "control/panel_exchange.h"
#include "control/sign_sender.h"

#include <QObject>

// Puts the operator's sign on the panel and in the view: the panel's start-up, a sign chosen
// (clicking the chosen one again sends it again: the panel never answers, so this is how an
// operator repeats a sign it may have missed), the chequered flag's animation, the lamp test and
// the keep-alive. Each action opens the port, sends and closes it again; a send that fails
// part-way closes the port and says so in the status line, and the program carries on, so the
// next action starts afresh.
class PanelControl final : public QObject {
    Q_OBJECT
public:
    PanelControl(PanelLine& line, PanelCommands& commands, SignView& view, const PanelSettings& settings, QObject* parent = nullptr);

    // Every action and its outcome go to `journal` once the port is closed; none without one.
    void setJournal(Journal* journal) { journal_.setJournal(journal); }

    // Once, when the panel is first set up: the LED times, display_on and "Parar".
    Exchange initPanel();
    // A sign chosen, sent as a click sends it; `request` names the remote request it answers,
    // in the journal.
    // `request` is the remote request it answers and `sender` the label its sender gave, if any:
    // both journaled.
    // `cause`: why the post chose it by itself, journaled with it.
    Exchange chooseSign(Sign kind, Origin origin = Origin::Mouse, const QString& request = {}, const QString& sender = {}, const QString& cause = {});
    // Opens and closes the port, sending nothing, so the status line says whether it opens.
    SendOutcome probeLine(Origin origin)
    {
        return exchange_.run(origin, [] {}).outcome;
    }
    void startLampTest();
    // Escape: the test ends at once and the chosen sign is put back.
    void stopLampTest();
    void setKeepAlive(int seconds) { keepAlive_.setSeconds(seconds); }

    // The sign last chosen, which the lamp test and the keep-alive put back.
    [[nodiscard]] Sign chosenSign() const { return chosen_; }
    [[nodiscard]] LineState lineState() const { return exchange_.lineState(); }
    [[nodiscard]] const QString& lastFailure() const { return exchange_.lastFailure(); }
    [[nodiscard]] Echo echo() const { return exchange_.echo(); }
    [[nodiscard]] bool lampTestRunning() const { return lampTest_.isRunning(); }

    // Its parts, each with the face of its own: the flag on Timer1, the lamp test, the keep-alive.
    [[nodiscard]] FlagAnimation& animation() { return animation_; }
    [[nodiscard]] LampTest& lampTest() { return lampTest_; }
    [[nodiscard]] KeepAlive& keepAlive() { return keepAlive_; }
    [[nodiscard]] const KeepAlive& keepAlive() const { return keepAlive_; }

signals:
    void lineStateChanged(LineState state);
    void echoChanged(Echo echo);
    // Every choice, the start-up's and the put-backs included, once the port is closed.
    void signSent(Sign kind, Origin origin, const QString& request, const Exchange& exchange);

private:
    // The keep-alive's resend: the chosen sign again as a click sends it; the animating flag,
    // which repeats its planes anyway, gets display_on alone; nothing during the lamp test.
    void resend();

    ActionJournal journal_;
    PanelExchange exchange_;
    SignSender sender_;
    FlagAnimation animation_;
    LampTest lampTest_;
    KeepAlive keepAlive_;
    Sign chosen_ = Sign::Stop;
    FailureRun failedResends_;
};
