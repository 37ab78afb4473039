#include "signs/sign_display.h"

#include <QTime>

SignDisplay::SignDisplay(PanelLink& link, PanelCommands& commands, PanelPreview& preview,
                         const PanelSettings& settings, QObject* parent)
    : QObject(parent), link_(link), commands_(commands), preview_(preview), settings_(settings)
{
    timer_.setInterval(chequerIntervalMs);
    // A coarse timer may fire up to 5 % late on every tick, which shows as an uneven flag.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SignDisplay::Timer1_Timer);
}

void SignDisplay::Option1_Click(std::int16_t index)
{
    // A click that could not be sent has already said so in the status line.
    noteOutcome(link_.openSendClose(settings_.comPort, [&] { showSign(index); }), index);
}

void SignDisplay::noteOutcome(SendOutcome outcome, SignKind kind)
{
    const SignDescription* sign = describeSign(kind);
    if (outcome == SendOutcome::Sent && sign != nullptr) {
        lastSent_ = QStringLiteral("%1 às %2").arg(QString::fromUtf8(sign->caption), QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        preview_.clearStale();
    } else if (outcome != SendOutcome::Sent) {
        preview_.markStale(lastSent_.isEmpty() ? QStringLiteral("Nenhum sinal enviado desde o arranque")
                                               : QStringLiteral("Último sinal enviado: ") + lastSent_);
    }
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
