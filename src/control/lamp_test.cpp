// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/lamp_test.h"

#include <utility>

namespace {

// Step n of the lamp test (1 to 20): all red, all green, all yellow, each column yellow from
// the left (line 7) to the right (line 0), each row yellow from the top (bit 0) down, all off.
SignPattern lampPattern(int step)
{
    SignPattern pattern{};
    const auto fill = [&](std::int16_t red, std::int16_t green) {
        for (auto& line : pattern) line = {red, green};
    };
    if (step == 1) fill(0xFF, 0);
    else if (step == 2) fill(0, 0xFF);
    else if (step == 3) fill(0xFF, 0xFF);
    else if (step <= 11) pattern[static_cast<std::size_t>(11 - step)] = {0xFF, 0xFF};
    else if (step <= 19) fill(static_cast<std::int16_t>(1 << (step - 12)), static_cast<std::int16_t>(1 << (step - 12)));
    return pattern;
}

} // namespace

LampTest::LampTest(PanelExchange& exchange, SignSender& sender, ActionJournal& journal, std::function<void()> putBack, QObject* parent)
    : QObject(parent), exchange_(exchange), sender_(sender), journal_(journal), putBack_(std::move(putBack))
{
    timer_.setInterval(stepMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &LampTest::step);
}

void LampTest::begin()
{
    const Exchange x = exchange_.run(Origin::LampTest, [&] { sender_.sendLampTimes(); });
    journal_.record(Origin::LampTest, QStringLiteral("início do teste do painel"), std::nullopt, x);
    bytes_ = x.bytes;
    failure_ = x.reason;
    step_ = 0;
    stepsSent_ = 0;
}

void LampTest::run()
{
    step();
    timer_.start();
}

void LampTest::step()
{
    if (++step_ > stepCount) {
        finish(QStringLiteral("concluído"));
        putBack_();
        return;
    }
    const SignPattern pattern = lampPattern(step_);
    sender_.describe(QStringLiteral("Teste do painel, passo %1 de %2").arg(step_).arg(stepCount));
    const Exchange x = exchange_.run(Origin::LampTest, [&] { sender_.sendLampStep(pattern); });
    bytes_ += x.bytes;
    if (x.outcome == SendOutcome::Sent) ++stepsSent_;
    if (failure_.isEmpty() && x.outcome != SendOutcome::Sent)
        failure_ = QStringLiteral("passo %1: %2").arg(step_).arg(x.reason.isEmpty() ? outcomeText(x.outcome) : x.reason);
}

void LampTest::finish(const QString& outcome)
{
    if (!timer_.isActive()) return;
    timer_.stop();
    if (!journal_.enabled()) return;
    JournalEntry e = journal_.entry(Origin::LampTest, QStringLiteral("fim do teste do painel"), std::nullopt);
    e.bytes = bytes_;
    // A test whose steps did not all reach the panel checked nothing of what did not: it failed.
    e.outcome = outcome == QStringLiteral("concluído") && !failure_.isEmpty() ? QStringLiteral("falhou") : outcome;
    e.reason = failure_;
    e.detail = QStringLiteral("%1 de %2 passos enviados").arg(stepsSent_).arg(stepCount);
    e.failure = !failure_.isEmpty();
    journal_.record(std::move(e));
}
