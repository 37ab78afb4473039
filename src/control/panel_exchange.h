// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/action_journal.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"

#include <QObject>

#include <functional>

// Every action's road to the panel: the port opened, the frames written, the port closed so that
// all of them reach the line; and what that leaves of the line: its state, journaled when it
// changes, and why the last exchange failed.
class PanelExchange final : public QObject {
    Q_OBJECT
public:
    PanelExchange(PanelLine& line, PanelCommands& commands, const PanelSettings& settings, ActionJournal& journal, QObject* parent = nullptr);

    // Opens the chosen port, runs `send`, closes the port; `origin` is the journal's.
    Exchange run(Origin origin, const std::function<void()>& send);

    // How the last exchange left the line; Unknown before the first.
    [[nodiscard]] LineState lineState() const { return lineState_; }
    // Why the last exchange failed, in the operator's words; empty when it went out.
    [[nodiscard]] const QString& lastFailure() const { return lastFailure_; }
    // How the cable's echo came back on the last send that went out; off while the port's is.
    [[nodiscard]] Echo echo() const { return echo_; }

signals:
    void lineStateChanged(LineState state);
    // The echo came back differently from the send before: lost, changed, or back again.
    void echoChanged(Echo echo);

private:
    PanelLine& line_;
    PanelCommands& commands_;
    const PanelSettings& settings_;
    ActionJournal& journal_;
    LineState lineState_ = LineState::Unknown;
    QString lastFailure_;
    Echo echo_ = Echo::Off;
};
