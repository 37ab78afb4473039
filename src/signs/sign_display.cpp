// SPDX-License-Identifier: GPL-3.0-or-later
#include "signs/sign_display.h"

#include "settings/setting_names.h"

#include <utility>

SignDisplay::SignDisplay(PanelLine& line, PanelCommands& commands, PanelPreview& preview, const PanelSettings& settings, QObject* parent)
    : QObject(parent), line_(line), commands_(commands), preview_(preview), settings_(settings)
{
    timer_.setInterval(chequerIntervalMs);
    // A coarse timer may fire up to 5 % late on every tick, which shows as an uneven flag.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SignDisplay::animationTick);
    lampTimer_.setInterval(lampStepMs);
    lampTimer_.setTimerType(Qt::PreciseTimer);
    connect(&lampTimer_, &QTimer::timeout, this, &SignDisplay::lampTestStep);
    keepAlive_.setTimerType(Qt::PreciseTimer);
    connect(&keepAlive_, &QTimer::timeout, this, &SignDisplay::keepAliveTick);
}

SendOutcome SignDisplay::chooseSign(Sign index, Origin origin, const QString& request)
{
    // Choosing a sign ends a lamp test at once: the sign chosen is what the panel shows next.
    finishLampTest(QStringLiteral("interrompido"));
    if (describeSign(index) != nullptr && std::exchange(chosen_, index) != index) emit chosenSignChanged(index);
    // The keep-alive counts from the last time a sign went out.
    if (keepAlive_.isActive()) keepAlive_.start();
    const bool wasAnimating = timer_.isActive();
    // Another sign ends the animation before anything is sent, so no tick of the old flag can
    // follow it; and even when it cannot be sent: ticks of the flag coming back with the port
    // would put the flag on the panel while every other way in says this sign.
    if (!animates(index)) timer_.stop();
    const Exchange x = exchange(origin, [&] { showSign(index); });
    // A click that could not be sent has already said so in the status line.
    noteOutcome(x.outcome, index);
    // The keep-alive's sends are journaled only where a run of failures starts and ends.
    if (origin == Origin::KeepAlive) noteRun(failedResends_, origin, QStringLiteral("reenvio"), index, x);
    else journal(origin, QStringLiteral("sinal"), index, x, request.isEmpty() ? QString() : QStringLiteral("pedido %1").arg(request));
    noteAnimation(wasAnimating, origin);
    emit signChosen(index, origin, x.outcome);
    return x.outcome;
}

SendOutcome SignDisplay::probeLink(Origin origin)
{
    return exchange(origin, [] {}).outcome;
}

SignDisplay::Exchange SignDisplay::exchange(Origin origin, const std::function<void()>& send)
{
    Exchange x;
    if (journal_ != nullptr) x.when = QDateTime::currentDateTimeUtc();
    const std::uint64_t before = commands_.bytesWritten();
    x.outcome = line_.openSendClose(settings_.comPort, send);
    const LineState state = lineStateOf(x.outcome);
    const bool linkChanged = std::exchange(lineState_, state) != state;
    if (linkChanged) emit lineStateChanged(state);
    // All of this after the port is closed: the journal never stands between two frames.
    if (x.outcome != SendOutcome::Sent)
        if (const auto failure = line_.lastFailure(settings_.comPort)) x.reason = QString::fromStdString(failure->reason);
    lastFailure_ = x.reason;
    if (journal_ == nullptr) return x;
    x.bytes = static_cast<qint64>(commands_.bytesWritten() - before);
    if (linkChanged) {
        JournalEntry context = entry(origin, {}, std::nullopt, x.when);
        context.reason = x.reason;
        journal_->noteLink(state, context);
    }
    return x;
}

JournalEntry SignDisplay::entry(Origin origin, const QString& action, std::optional<Sign> kind, const QDateTime& when) const
{
    JournalEntry e;
    if (when.isValid()) e.when = when;
    e.origin = origin;
    e.action = action;
    if (const SignDescription* sign = kind ? describeSign(*kind) : nullptr) e.sign = QString::fromUtf8(sign->caption);
    const bool multiColour = settings_.signalMode == multiColourSigns;
    e.mode = modeName(settings_.signalMode);
    if (!multiColour) e.colour = colourName(settings_.signColour);
    e.port = settings_.comPort;
    return e;
}

void SignDisplay::journal(Origin origin, const QString& action, std::optional<Sign> kind, const Exchange& x, const QString& detail)
{
    if (journal_ == nullptr) return;
    JournalEntry e = entry(origin, action, kind, x.when);
    e.bytes = x.bytes;
    e.outcome = outcomeText(x.outcome);
    e.reason = x.reason;
    e.detail = detail;
    e.failure = x.outcome != SendOutcome::Sent;
    journal_->record(std::move(e));
}

void SignDisplay::noteAnimation(bool wasAnimating, Origin origin)
{
    if (wasAnimating == timer_.isActive()) return;
    failedTicks_ = 0;
    if (journal_ == nullptr) return;
    JournalEntry e = entry(Origin::Animation, wasAnimating ? QStringLiteral("fim da animação") : QStringLiteral("início da animação"), Sign::Chequer);
    e.detail = QStringLiteral("por %1").arg(originText(origin));
    journal_->record(std::move(e));
}

void SignDisplay::noteRun(int& failedRun, Origin origin, const QString& action, Sign kind, const Exchange& x)
{
    if (x.outcome != SendOutcome::Sent) {
        if (failedRun++ == 0) journal(origin, action, kind, x);
    } else if (failedRun > 0) {
        journal(origin, action, kind, x,
                (failedRun == 1 ? QStringLiteral("de novo enviado, após 1 falha") : QStringLiteral("de novo enviado, após %1 falhas").arg(failedRun)));
        failedRun = 0;
    }
}

void SignDisplay::noteOutcome(SendOutcome outcome, Sign kind)
{
    if (outcome == SendOutcome::Sent) {
        // An index that is no sign sends nothing, so the last sign sent stays what it was.
        if (describeSign(kind) != nullptr) lastSent_ = {kind, QTime::currentTime()};
        preview_.clearStale();
        return;
    }
    const SignDescription* last = lastSent_ ? describeSign(lastSent_->first) : nullptr;
    preview_.markStale(
        last == nullptr
            ? QStringLiteral("Nenhum sinal enviado desde o arranque")
            : QStringLiteral("Último sinal enviado: %1 às %2").arg(QString::fromUtf8(last->caption), lastSent_->second.toString(QStringLiteral("HH:mm:ss"))));
}

void SignDisplay::showSign(Sign kind)
{
    const SignDescription* sign = describeSign(kind);
    if (sign == nullptr) return;
    const SignPattern& pattern = patterns_.*(sign->pattern);
    const bool multiColour = settings_.signalMode == multiColourSigns;
    const bool animate = animates(kind);
    preview_.setDescription(QString::fromStdString(signInWords(kind, multiColour, settings_.signColour)));

    if (multiColour) {
        (commands_.*(sign->ledTimes))();
        preview_.drawPattern(pattern);
        commands_.sendPattern(pattern);
        // Choosing the flag again while it animates keeps the running cadence.
        if (animate && !timer_.isActive()) timer_.start(chequerIntervalMs);
    } else {
        preview_.drawPatternMono(pattern, settings_.signColour, sign->monoPlane);
        commands_.sendPatternMono(pattern, settings_.signColour, sign->monoPlane);
    }
    commands_.set_sign_code(sign->code);
    commands_.display_on();
}

void SignDisplay::animationTick()
{
    // The flag stays multi-colour until a sign is chosen, even if the mode has changed since.
    const SignPattern& next = chequerPhase_ ? patterns_.patternChequer1 : patterns_.patternChequer2;
    const Exchange x = exchange(Origin::Animation, [&] {
        commands_.sendPattern(next);
        preview_.drawPattern(next);
    });
    const SendOutcome outcome = x.outcome;
    noteOutcome(outcome, Sign::Chequer);
    noteRun(failedTicks_, Origin::Animation, QStringLiteral("passo da animação"), Sign::Chequer, x);
    // Flipped only once the image is out, the close included, so a failed tick sends the same
    // image next time.
    if (outcome == SendOutcome::Sent) chequerPhase_ = !chequerPhase_;
    // Each try on a line that fails part-way waits for the line, so it is tried once a second
    // until a send gets through; a port that does not open costs nothing and keeps the pace.
    // Set only on a change, as setting the interval restarts the timer.
    const int interval = outcome == SendOutcome::Failed ? failingLineRetryMs : chequerIntervalMs;
    if (timer_.interval() != interval) timer_.setInterval(interval);
}

void SignDisplay::initPanel()
{
    // The patterns must exist even when the panel cannot be reached.
    initPatterns(patterns_);
    const Exchange x = exchange(Origin::Startup, [&] {
        commands_.set_redled_time(25);
        commands_.set_greenled_time(175);
        commands_.display_on();
        showSign(Sign::Stop);
    });
    const SendOutcome outcome = x.outcome;
    journal(Origin::Startup, QStringLiteral("arranque"), Sign::Stop, x);
    emit signChosen(Sign::Stop, Origin::Startup, outcome);
    // When the port did not open the preview is still empty: there is nothing to disagree with.
    if (outcome != SendOutcome::NotOpened) noteOutcome(outcome, Sign::Stop);
}

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

void SignDisplay::startLampTest()
{
    finishLampTest(QStringLiteral("interrompido"));
    // No tick of the flag may come between the test's steps.
    const bool wasAnimating = timer_.isActive();
    timer_.stop();
    const Exchange x = exchange(Origin::LampTest, [&] { commands_.ledTimesGreen(); });
    journal(Origin::LampTest, QStringLiteral("início do teste do painel"), std::nullopt, x);
    noteAnimation(wasAnimating, Origin::LampTest);
    lampBytes_ = x.bytes;
    lampFailure_ = x.reason;
    lampStep_ = 0;
    lampStepsSent_ = 0;
    lampTestStep();
    lampTimer_.start();
}

void SignDisplay::lampTestStep()
{
    if (++lampStep_ > lampStepCount) {
        finishLampTest(QStringLiteral("concluído"));
        chooseSign(chosen_, Origin::LampTest);
        return;
    }
    const SignPattern pattern = lampPattern(lampStep_);
    preview_.setDescription(QStringLiteral("Teste do painel, passo %1 de %2").arg(lampStep_).arg(lampStepCount));
    const Exchange x = exchange(Origin::LampTest, [&] {
        preview_.drawPattern(pattern);
        commands_.sendPattern(pattern);
        commands_.display_on();
    });
    lampBytes_ += x.bytes;
    if (x.outcome == SendOutcome::Sent) ++lampStepsSent_;
    if (lampFailure_.isEmpty() && x.outcome != SendOutcome::Sent)
        lampFailure_ = QStringLiteral("passo %1: %2").arg(lampStep_).arg(x.reason.isEmpty() ? outcomeText(x.outcome) : x.reason);
}

void SignDisplay::finishLampTest(const QString& outcome)
{
    if (!lampTimer_.isActive()) return;
    lampTimer_.stop();
    if (journal_ == nullptr) return;
    JournalEntry e = entry(Origin::LampTest, QStringLiteral("fim do teste do painel"), std::nullopt);
    e.bytes = lampBytes_;
    // A test whose steps did not all reach the panel checked nothing of what did not: it failed.
    e.outcome = outcome == QStringLiteral("concluído") && !lampFailure_.isEmpty() ? QStringLiteral("falhou") : outcome;
    e.reason = lampFailure_;
    e.detail = QStringLiteral("%1 de %2 passos enviados").arg(lampStepsSent_).arg(lampStepCount);
    e.failure = !lampFailure_.isEmpty();
    journal_->record(std::move(e));
}

void SignDisplay::stopLampTest()
{
    if (!lampTimer_.isActive()) return;
    // The sign put back is the lamp test's, whichever key ended it.
    chooseSign(chosen_, Origin::LampTest);
}

void SignDisplay::setKeepAlive(int seconds)
{
    keepAlive_.setInterval(seconds * 1000);
    if (seconds > 0) keepAlive_.start();
    else keepAlive_.stop();
}

bool SignDisplay::animates(Sign kind) const { return settings_.signalMode == multiColourSigns && kind == Sign::Chequer; }

void SignDisplay::keepAliveTick()
{
    if (lampTimer_.isActive()) return;
    if (!timer_.isActive()) {
        chooseSign(chosen_, Origin::KeepAlive);
        return;
    }
    // The flag's ticks carry its planes but no display_on: a panel that restarted (a power cut)
    // would stay dark through them. display_on alone lights it again and leaves the flag as it is.
    const Exchange x = exchange(Origin::KeepAlive, [&] { commands_.display_on(); });
    noteRun(failedResends_, Origin::KeepAlive, QStringLiteral("reenvio"), Sign::Chequer, x);
}
