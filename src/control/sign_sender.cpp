// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/sign_sender.h"

SignSender::SignSender(PanelCommands& commands, SignView& view, const PanelSettings& settings) : commands_(commands), view_(view), settings_(settings) {}

bool SignSender::animates(Sign kind) const { return settings_.signalMode == multiColourSigns && kind == Sign::Chequer; }

void SignSender::send(Sign kind, const std::function<void()>& planesSent)
{
    const SignDescription* sign = describeSign(kind);
    if (sign == nullptr) return;
    const SignPattern& pattern = patterns_.*(sign->pattern);
    const bool multiColour = settings_.signalMode == multiColourSigns;
    view_.setDescription(QString::fromStdString(signInWords(kind, multiColour, settings_.signColour)));
    if (multiColour) {
        (commands_.*(sign->ledTimes))();
        view_.drawPattern(pattern);
        commands_.sendPattern(pattern);
        if (planesSent) planesSent();
    } else {
        view_.drawPatternMono(pattern, settings_.signColour, sign->monoPlane);
        commands_.sendPatternMono(pattern, settings_.signColour, sign->monoPlane);
    }
    commands_.set_sign_code(sign->code);
    commands_.display_on();
}

void SignSender::sendStartUp()
{
    commands_.set_redled_time(25);
    commands_.set_greenled_time(175);
    commands_.display_on();
    send(Sign::Stop);
}

void SignSender::sendChequer(bool firstImage)
{
    // The flag stays multi-colour until a sign is chosen, even if the mode has changed since.
    const SignPattern& next = firstImage ? patterns_.patternChequer1 : patterns_.patternChequer2;
    commands_.sendPattern(next);
    view_.drawPattern(next);
}

void SignSender::sendLampStep(const SignPattern& pattern)
{
    view_.drawPattern(pattern);
    commands_.sendPattern(pattern);
    commands_.display_on();
}

void SignSender::noteOutcome(const Exchange& x, Sign kind)
{
    if (x.reachedPanel()) {
        // An index that is no sign sends nothing, so the last sign sent stays what it was.
        if (describeSign(kind) != nullptr) lastSent_ = {kind, QTime::currentTime()};
        view_.clearStale();
        return;
    }
    const SignDescription* last = lastSent_ ? describeSign(lastSent_->first) : nullptr;
    // With the echo on, what went out is known to have reached the panel only when it came back.
    const QString lastWords = x.echoOn ? QStringLiteral("Último sinal com eco do cabo") : QStringLiteral("Último sinal enviado");
    const QString note =
        last == nullptr
            ? (x.echoOn ? QStringLiteral("Nenhum sinal com eco do cabo desde o arranque") : QStringLiteral("Nenhum sinal enviado desde o arranque"))
            : QStringLiteral("%1: %2 às %3").arg(lastWords, QString::fromUtf8(last->caption), lastSent_->second.toString(QStringLiteral("HH:mm:ss")));
    view_.markStale(x.outcome == SendOutcome::Sent ? QStringLiteral("Sem prova de que chegou ao painel: %1\n%2").arg(x.echoReason, note) : note);
}
