// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"
#include "settings/panel_settings.h"
#include "signs/panel_preview.h"
#include "signs/sign_patterns.h"
#include "signs/sign_table.h"

#include <QDateTime>
#include <QObject>
#include <QTime>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

// Puts the operator's sign on the panel and in the preview, runs the panel's start-up sequence
// and animates the chequered flag. Each handler opens the port, sends and closes it again; a
// send that fails part-way closes the port and says so in the status line, and the program
// carries on, so the next click or tick starts afresh.
class SignDisplay : public QObject {
    Q_OBJECT
public:
    static constexpr int chequerIntervalMs = 250;
    // While the line fails part-way, the flag tries this often instead.
    static constexpr int failingLineRetryMs = 1000;

    SignDisplay(PanelLine& line, PanelCommands& commands, PanelPreview& preview, const PanelSettings& settings, QObject* parent = nullptr);

    // Every action and its outcome go to `journal` once the port is closed; none without one.
    void setJournal(Journal* journal) { journal_ = journal; }

    // Click on sign button `index`. Clicking the selected button sends its sign again: the
    // panel never answers, so this is how an operator repeats a sign it may have missed.
    // `request` names the remote request it answers, in the journal.
    SendOutcome chooseSign(Sign index, Origin origin = Origin::Mouse, const QString& request = {});
    // Opens and closes the port, sending nothing, so the status line says whether it opens.
    SendOutcome probeLink(Origin origin);
    // Sends and draws one sign on a port that is already open. Throws LineException when a
    // write fails; the preview and the timer then stay as far as the sign had got.
    void showSign(Sign kind);
    void animationTick();
    // Run once when the main window first shows.
    void initPanel();

    // The lamp test: every LED red, green and yellow, each column and each row, then all off,
    // one step every lampStepMs, after which the chosen sign is put back as a click sends it.
    static constexpr int lampStepMs = 300;
    static constexpr int lampStepCount = 20;
    void startLampTest();
    // One step of the test, or the put-back after the last one; its timer calls it.
    void lampTestStep();
    // Escape: the test ends at once and the chosen sign is put back.
    void stopLampTest();
    // The sign the lamp test and the keep-alive put back.
    [[nodiscard]] Sign chosenSign() const { return chosen_; }
    // How the last exchange with the panel left the link; Unknown before the first.
    [[nodiscard]] LineState lineState() const { return lineState_; }
    // Why the last exchange failed, in the operator's words; empty when it went out.
    [[nodiscard]] const QString& lastFailure() const { return lastFailure_; }

signals:
    void chosenSignChanged(Sign kind);
    void lineStateChanged(LineState state);
    // After every choice of a sign, the start-up's included, once the port is closed.
    void signChosen(Sign kind, Origin origin, SendOutcome outcome);

public:
    [[nodiscard]] bool lampTestRunning() const { return lampTimer_.isActive(); }

    // Keep-alive: the chosen sign is sent again every `seconds` (0 is off), counted from the
    // last time it was chosen, exactly as a click on it; the animating flag already repeats its
    // planes, so it gets display_on alone.
    void setKeepAlive(int seconds);
    void keepAliveTick();
    [[nodiscard]] const QTimer& keepAliveTimer() const { return keepAlive_; }

    // Timer1: drives the chequered flag while it is enabled.
    [[nodiscard]] QTimer& timer() { return timer_; }
    // True when the next tick sends patternChequer1.
    [[nodiscard]] bool chequerPhase() const { return chequerPhase_; }

private:
    // One exchange with the panel, as the journal tells it.
    struct Exchange {
        QDateTime when;
        SendOutcome outcome = SendOutcome::Sent;
        qint64 bytes = 0;
        QString reason;
    };
    Exchange exchange(Origin origin, const std::function<void()>& send);
    // An entry with the settings it was made under; `when` is now unless given.
    [[nodiscard]] JournalEntry entry(Origin origin, const QString& action, std::optional<Sign> kind, const QDateTime& when = {}) const;
    void journal(Origin origin, const QString& action, std::optional<Sign> kind, const Exchange& x, const QString& detail = {});
    // The animation's start and stop, when a choice has started or stopped it.
    void noteAnimation(bool wasAnimating, Origin origin);
    // Runs of failures of the repeating senders are journaled at their start and their end.
    void noteRun(int& failedRun, Origin origin, const QString& action, Sign kind, const Exchange& x);
    void finishLampTest(const QString& outcome);

    // Whether `kind`, chosen now, is the animated flag.
    [[nodiscard]] bool animates(Sign kind) const;
    // Keeps the preview honest: marked while the last click or tick did not go out whole.
    void noteOutcome(SendOutcome outcome, Sign kind);

    PanelLine& line_;
    PanelCommands& commands_;
    PanelPreview& preview_;
    const PanelSettings& settings_;
    SignPatterns patterns_;
    QTimer timer_;
    QTimer lampTimer_;
    QTimer keepAlive_;
    int lampStep_ = 0;
    int lampStepsSent_ = 0; // the lamp test's steps that reached the panel whole
    Journal* journal_ = nullptr;
    int failedTicks_ = 0;   // the flag's ticks that have failed in a row
    int failedResends_ = 0; // the keep-alive's sends that have failed in a row
    qint64 lampBytes_ = 0;  // sent by the lamp test so far
    QString lampFailure_;   // the first failure of the lamp test, if any
    Sign chosen_ = Sign::Stop;
    LineState lineState_ = LineState::Unknown; // the sign last chosen, which the lamp test puts back
    QString lastFailure_;
    bool chequerPhase_ = false;
    // The last sign that went out whole, and when; put in words only when the preview is marked.
    std::optional<std::pair<Sign, QTime>> lastSent_;
};
