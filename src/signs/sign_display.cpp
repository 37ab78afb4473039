#include "signs/sign_display.h"

SignDisplay::SignDisplay(PanelLink& link, PanelCommands& commands, PanelPreview& preview,
                         const PanelSettings& settings, QObject* parent)
    : QObject(parent), link_(link), commands_(commands), preview_(preview), settings_(settings)
{
    timer_.setInterval(chequerIntervalMs);
    // A coarse timer may fire up to 5 % late on every tick, which shows as an uneven flag.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SignDisplay::Timer1_Timer);
    lampTimer_.setInterval(lampStepMs);
    lampTimer_.setTimerType(Qt::PreciseTimer);
    connect(&lampTimer_, &QTimer::timeout, this, &SignDisplay::lampTestStep);
    keepAlive_.setTimerType(Qt::PreciseTimer);
    connect(&keepAlive_, &QTimer::timeout, this, &SignDisplay::keepAliveTick);
}

void SignDisplay::Option1_Click(std::int16_t index)
{
    // Choosing a sign ends a lamp test at once: the sign chosen is what the panel shows next.
    lampTimer_.stop();
    if (describeSign(index) != nullptr) chosen_ = index;
    // The keep-alive counts from the last time a sign went out.
    if (keepAlive_.isActive()) keepAlive_.start();
    // A click that could not be sent has already said so in the status line.
    noteOutcome(link_.openSendClose(settings_.comPort, [&] { showSign(index); }), index);
}

void SignDisplay::noteOutcome(SendOutcome outcome, SignKind kind)
{
    if (outcome == SendOutcome::Sent) {
        // An index that is no sign sends nothing, so the last sign sent stays what it was.
        if (describeSign(kind) != nullptr) lastSent_ = {kind, QTime::currentTime()};
        preview_.clearStale();
        return;
    }
    const SignDescription* last = lastSent_ ? describeSign(lastSent_->first) : nullptr;
    preview_.markStale(last == nullptr ? QStringLiteral("Nenhum sinal enviado desde o arranque")
                                       : QStringLiteral("Último sinal enviado: %1 às %2")
                                             .arg(QString::fromUtf8(last->caption), lastSent_->second.toString(QStringLiteral("HH:mm:ss"))));
}

void SignDisplay::showSign(SignKind kind)
{
    const SignDescription* sign = describeSign(kind);
    if (sign == nullptr) return;
    const SignPattern& pattern = patterns_.*(sign->pattern);
    const bool multiColour = settings_.signalMode == multiColourSigns;
    const bool animate = multiColour && kind == signChequer;
    preview_.setDescription(QString::fromStdString(signInWords(kind, multiColour, settings_.signColour)));

    // Stopped before anything is sent, so no tick of the old flag can follow the new sign.
    if (!animate) timer_.stop();
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

void SignDisplay::Timer1_Timer()
{
    // The flag stays multi-colour until a sign is chosen, even if the mode has changed since.
    const SignPattern& next = chequerPhase_ ? patterns_.patternChequer1 : patterns_.patternChequer2;
    const SendOutcome outcome = link_.openSendClose(settings_.comPort, [&] {
        commands_.sendPattern(next);
        preview_.drawPattern(next);
    });
    noteOutcome(outcome, signChequer);
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
    const SendOutcome outcome = link_.openSendClose(settings_.comPort, [&] {
        commands_.set_redled_time(25);
        commands_.set_greenled_time(175);
        commands_.display_on();
        showSign(signStop);
    });
    // When the port did not open the preview is still empty: there is nothing to disagree with.
    if (outcome != SendOutcome::NotOpened) noteOutcome(outcome, signStop);
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
    // No tick of the flag may come between the test's steps.
    timer_.stop();
    (void)link_.openSendClose(settings_.comPort, [&] { commands_.ledTimesGreen(); });
    lampStep_ = 0;
    lampTestStep();
    lampTimer_.start();
}

void SignDisplay::lampTestStep()
{
    if (++lampStep_ > lampStepCount) {
        lampTimer_.stop();
        Option1_Click(chosen_);
        return;
    }
    const SignPattern pattern = lampPattern(lampStep_);
    preview_.setDescription(QStringLiteral("Teste do painel, passo %1 de %2").arg(lampStep_).arg(lampStepCount));
    (void)link_.openSendClose(settings_.comPort, [&] {
        preview_.drawPattern(pattern);
        commands_.sendPattern(pattern);
        commands_.display_on();
    });
}

void SignDisplay::stopLampTest()
{
    if (!lampTimer_.isActive()) return;
    Option1_Click(chosen_);
}

void SignDisplay::setKeepAlive(int seconds)
{
    keepAlive_.setInterval(seconds * 1000);
    if (seconds > 0) keepAlive_.start();
    else keepAlive_.stop();
}

void SignDisplay::keepAliveTick()
{
    // The flag's own ticks and the lamp test already keep the line busy.
    if (timer_.isActive() || lampTimer_.isActive()) return;
    Option1_Click(chosen_);
}
