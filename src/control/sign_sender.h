// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/action_journal.h"
#include "panel/panel_commands.h"
#include "panel/panel_line.h"
#include "settings/panel_settings.h"
#include "signs/sign_patterns.h"
#include "signs/sign_table.h"
#include "signs/sign_view.h"

#include <QTime>

#include <functional>
#include <optional>
#include <utility>

// What each action writes on a port already open, and draws in the view: a sign in the colour
// mode of the moment, the panel's start-up, one of the flag's two images, a step of the lamp test.
// A write that fails throws LineException; the view then stays as far as the send had got. It
// keeps the view true to the panel: marked while the last send did not go out whole.
class SignSender {
public:
    SignSender(PanelCommands& commands, SignView& view, const PanelSettings& settings);

    // The six patterns: they must exist even when the panel cannot be reached.
    void buildPatterns() { initPatterns(patterns_); }
    // The sign's LED times, planes, code and display_on. `planesSent` runs once the planes are
    // out, before the code: where the flag's animation starts.
    void send(Sign kind, const std::function<void()>& planesSent = {});
    // The LED times 25 and 175 and display_on, then "Parar".
    void sendStartUp();
    // The flag's next image, both planes: the first image, or its colour-swapped twin.
    void sendChequer(bool firstImage);
    // display_on alone: a panel that restarted lights up again with what it holds.
    void sendDisplayOn() { commands_.display_on(); }
    // The lamp test's LED times, those of green.
    void sendLampTimes() { commands_.ledTimesGreen(); }
    // One step of the lamp test: both planes and display_on.
    void sendLampStep(const SignPattern& pattern);
    // What the view shows, in words, when it is no sign.
    void describe(const QString& text) { view_.setDescription(text); }
    // Whether `kind`, chosen now, is the animated flag.
    [[nodiscard]] bool animates(Sign kind) const;
    // After each send: the view is marked while the panel may not show what it shows, as the
    // send did not go out whole, or its echo did not prove it reached the panel.
    void noteOutcome(const Exchange& x, Sign kind);

private:
    PanelCommands& commands_;
    SignView& view_;
    const PanelSettings& settings_;
    SignPatterns patterns_;
    // The last sign that went out whole, and when; put in words only when the view is marked.
    std::optional<std::pair<Sign, QTime>> lastSent_;
};
