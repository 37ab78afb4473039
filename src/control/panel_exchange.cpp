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
    if (!journal_.enabled()) return x;
    x.bytes = static_cast<qint64>(commands_.bytesWritten() - before);
    if (changed) {
        JournalEntry context = journal_.entry(origin, {}, std::nullopt, x.when);
        context.reason = x.reason;
        journal_.noteLine(state, context);
    }
    return x;
}
