// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/action_journal.h"

#include "settings/setting_names.h"

#include <utility>

JournalEntry ActionJournal::entry(Origin origin, const QString& action, std::optional<Sign> kind, const QDateTime& when) const
{
    JournalEntry e;
    if (when.isValid()) e.when = when;
    e.origin = origin;
    e.action = action;
    if (const SignDescription* sign = kind ? describeSign(*kind) : nullptr) e.sign = QString::fromUtf8(sign->caption);
    e.mode = modeName(settings_.signalMode);
    if (settings_.signalMode != multiColourSigns) e.colour = colourName(settings_.signColour);
    e.port = settings_.comPort;
    return e;
}

QString echoJournalText(const Exchange& x)
{
    if (!x.echoOn) return QString::fromStdString(echoWord(Echo::Off));
    if (x.outcome != SendOutcome::Sent) return QStringLiteral("não verificado");
    return QString::fromStdString(echoWord(x.echo));
}

void ActionJournal::record(Origin origin, const QString& action, std::optional<Sign> kind, const Exchange& x, const QString& detail)
{
    if (journal_ == nullptr) return;
    JournalEntry e = entry(origin, action, kind, x.when);
    e.bytes = x.bytes;
    e.outcome = outcomeText(x.outcome);
    e.reason = x.outcome == SendOutcome::Sent ? x.echoReason : x.reason;
    e.echo = echoJournalText(x);
    e.detail = detail;
    e.failure = !x.reachedPanel();
    journal_->record(std::move(e));
}

void ActionJournal::record(JournalEntry entry)
{
    if (journal_ != nullptr) journal_->record(std::move(entry));
}

void ActionJournal::noteLine(LineState state, const JournalEntry& context)
{
    if (journal_ != nullptr) journal_->noteLine(state, context);
}

void FailureRun::note(ActionJournal& journal, Origin origin, const QString& action, Sign kind, const Exchange& x)
{
    if (x.outcome != SendOutcome::Sent) {
        if (failed_++ == 0) journal.record(origin, action, kind, x);
    } else if (failed_ > 0) {
        journal.record(origin, action, kind, x,
                       failed_ == 1 ? QStringLiteral("de novo enviado, após 1 falha") : QStringLiteral("de novo enviado, após %1 falhas").arg(failed_));
        failed_ = 0;
    }
}
