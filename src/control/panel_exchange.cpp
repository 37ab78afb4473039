// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/panel_exchange.h"

#include <utility>

PanelExchange::PanelExchange(PanelLine& line, PanelCommands& commands, const PanelSettings& settings, ActionJournal& journal, QObject* parent)
    : QObject(parent), line_(line), commands_(commands), settings_(settings), journal_(journal)
{}

Exchange PanelExchange::run(Origin origin, const std::function<void()>& send)
{
    Exchange x;
    if (journal_.enabled()) x.when = QDateTime::currentDateTimeUtc();
    const std::uint64_t before = commands_.bytesWritten();
    x.outcome = line_.openSendClose(settings_.comPort, send);
    const LineState state = lineStateOf(x.outcome);
    const bool changed = std::exchange(lineState_, state) != state;
    if (changed) emit lineStateChanged(state);
    // All of this after the port is closed: the journal never stands between two frames.
    if (x.outcome != SendOutcome::Sent)
        if (const auto failure = line_.lastFailure(settings_.comPort)) x.reason = QString::fromStdString(failure->reason);
    lastFailure_ = x.reason;
    x.echoOn = line_.echoOn(settings_.comPort);
    // The echo is weighed only for what went out; a send that failed proves nothing either way.
    const bool echoWeighed = x.outcome == SendOutcome::Sent;
    if (echoWeighed) {
        x.echo = line_.lastEcho().echo;
        x.echoReason = QString::fromStdString(PanelLine::echoReason(line_.lastEcho(), settings_.comPort));
    }
    const bool echoChangedNow = echoWeighed && std::exchange(echo_, x.echo) != x.echo;
    if (echoChangedNow) emit echoChanged(x.echo);
    if (!journal_.enabled()) return x;
    x.bytes = static_cast<qint64>(commands_.bytesWritten() - before);
    if (changed) {
        JournalEntry context = journal_.entry(origin, {}, std::nullopt, x.when);
        context.reason = x.reason;
        journal_.noteLine(state, context);
    }
    // Said once when it changes, however often the flag or the keep-alive finds it so.
    if (echoChangedNow && x.echo != Echo::Off) {
        JournalEntry e = journal_.entry(origin, QStringLiteral("eco do cabo"), std::nullopt, x.when);
        e.outcome = QString::fromStdString(echoWord(x.echo));
        e.echo = e.outcome;
        e.reason = x.echoReason;
        e.failure = x.echo != Echo::Confirmed;
        journal_.record(std::move(e));
    }
    return x;
}
