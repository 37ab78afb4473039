// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/flag_animation.h"

FlagAnimation::FlagAnimation(PanelExchange& exchange, SignSender& sender, ActionJournal& journal, QObject* parent)
    : QObject(parent), exchange_(exchange), sender_(sender), journal_(journal)
{
    timer_.setObjectName(QStringLiteral("Timer1"));
    timer_.setInterval(chequerIntervalMs);
    // A coarse timer may fire up to 5 % late on every tick, which shows as an uneven flag.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FlagAnimation::tick);
}

void FlagAnimation::start()
{
    if (!timer_.isActive()) timer_.start(chequerIntervalMs);
}

void FlagAnimation::tick()
{
    const Exchange x = exchange_.run(Origin::Animation, [&] { sender_.sendChequer(firstImageNext_); });
    sender_.noteOutcome(x, Sign::Chequer);
    failures_.note(journal_, Origin::Animation, QStringLiteral("passo da animação"), Sign::Chequer, x);
    // Flipped only once the image is out, the close included, so a failed tick sends the same
    // image next time.
    if (x.outcome == SendOutcome::Sent) firstImageNext_ = !firstImageNext_;
    // Set only on a change, as setting the interval restarts the timer.
    const int interval = x.outcome == SendOutcome::Failed ? failingLineRetryMs : chequerIntervalMs;
    if (timer_.interval() != interval) timer_.setInterval(interval);
}

void FlagAnimation::noteChange(bool wasRunning, Origin origin)
{
    if (wasRunning == timer_.isActive()) return;
    failures_.clear();
    if (!journal_.enabled()) return;
    JournalEntry e = journal_.entry(Origin::Animation, wasRunning ? QStringLiteral("fim da animação") : QStringLiteral("início da animação"), Sign::Chequer);
    e.detail = QStringLiteral("por %1").arg(originText(origin));
    journal_.record(std::move(e));
}
