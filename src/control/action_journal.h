// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "settings/panel_settings.h"
#include "signs/sign_table.h"

#include <QDateTime>
#include <QString>

#include <optional>

// One exchange with the panel, as the journal tells it.
struct Exchange {
    QDateTime when;
    SendOutcome outcome = SendOutcome::Sent;
    qint64 bytes = 0;
    QString reason;
    // How the cable's echo came back: off, or (once the bytes went out) its outcome.
    Echo echo = Echo::Off;
    bool echoOn = false;
    QString echoReason; // why it is no proof, for the operator

    // Out whole, and proved to have reached the panel when the echo can tell.
    [[nodiscard]] bool reachedPanel() const { return outcome == SendOutcome::Sent && (echo == Echo::Off || echo == Echo::Confirmed); }
};

// What the journal says of an exchange's echo: "desligado", its outcome, or "não verificado"
// when the bytes did not go out.
[[nodiscard]] QString echoJournalText(const Exchange& x);

// What the panel's actions leave in the journal, each entry with the settings it was made under.
// Nothing without a journal; and all of it once the port is closed, so that the journal never
// stands between two frames.
class ActionJournal {
public:
    explicit ActionJournal(const PanelSettings& settings) : settings_(settings) {}

    void setJournal(Journal* journal) { journal_ = journal; }
    [[nodiscard]] bool enabled() const { return journal_ != nullptr; }

    // An entry with the settings it was made under; `when` is now unless given.
    [[nodiscard]] JournalEntry entry(Origin origin, const QString& action, std::optional<Sign> kind, const QDateTime& when = {}) const;
    void record(Origin origin, const QString& action, std::optional<Sign> kind, const Exchange& x, const QString& detail = {});
    void record(JournalEntry entry);
    void noteLine(LineState state, const JournalEntry& context);

private:
    const PanelSettings& settings_;
    Journal* journal_ = nullptr;
};

// A sender that repeats (the flag's ticks, the keep-alive's resends) is journaled only where a
// run of failures begins, and where it ends with how many failed.
class FailureRun {
public:
    void note(ActionJournal& journal, Origin origin, const QString& action, Sign kind, const Exchange& x);
    void clear() { failed_ = 0; }

private:
    int failed_ = 0;
};
