// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/panel_control.h"

#include <utility>

PanelControl::PanelControl(PanelLine& line, PanelCommands& commands, SignView& view, const PanelSettings& settings, QObject* parent)
    : QObject(parent),
      journal_(settings),
      exchange_(line, commands, settings, journal_),
      sender_(commands, view, settings),
      animation_(exchange_, sender_, journal_),
      lampTest_(exchange_, sender_, journal_, [this] { chooseSign(chosen_, Origin::LampTest); }),
      keepAlive_([this] { resend(); })
{
    connect(&exchange_, &PanelExchange::lineStateChanged, this, &PanelControl::lineStateChanged);
    connect(&exchange_, &PanelExchange::echoChanged, this, &PanelControl::echoChanged);
}

Exchange PanelControl::initPanel()
{
    sender_.buildPatterns();
    const Exchange x = exchange_.run(Origin::Startup, [&] { sender_.sendStartUp(); });
    journal_.record(Origin::Startup, QStringLiteral("arranque"), Sign::Stop, x);
    // When the port did not open the view is still empty: there is nothing to disagree with.
    if (x.outcome != SendOutcome::NotOpened) sender_.noteOutcome(x, Sign::Stop);
    emit signSent(Sign::Stop, Origin::Startup, {}, x);
    return x;
}

Exchange PanelControl::chooseSign(Sign kind, Origin origin, const QString& request, const QString& sender, const QString& cause)
{
    // Choosing a sign ends a lamp test at once: the sign chosen is what the panel shows next.
    lampTest_.finish(QStringLiteral("interrompido"));
    if (describeSign(kind) != nullptr) chosen_ = kind;
    // The keep-alive counts from the last time a sign went out.
    keepAlive_.restart();
    const bool wasAnimating = animation_.isRunning();
    // Another sign ends the animation before anything is sent, so no tick of the old flag can
    // follow it; and even when it cannot be sent: ticks of the flag coming back with the port
    // would put the flag on the panel while every other way in says this sign.
    if (!sender_.animates(kind)) animation_.stop();
    const Exchange x = exchange_.run(origin, [&] {
        sender_.send(kind, [&] {
            if (sender_.animates(kind)) animation_.start();
        });
    });
    // A click that could not be sent has already said so in the status line.
    sender_.noteOutcome(x, kind);
    // The keep-alive's sends are journaled only where a run of failures starts and ends.
    if (origin == Origin::KeepAlive) failedResends_.note(journal_, origin, QStringLiteral("reenvio"), kind, x);
    else {
        QStringList detail;
        if (!request.isEmpty()) detail << QStringLiteral("pedido %1").arg(request);
        if (!sender.isEmpty()) detail << QStringLiteral("origem %1").arg(sender);
        if (!cause.isEmpty()) detail << cause;
        journal_.record(origin, QStringLiteral("sinal"), kind, x, detail.join(QStringLiteral("; ")));
    }
    animation_.noteChange(wasAnimating, origin);
    emit signSent(kind, origin, request, x);
    return x;
}

void PanelControl::startLampTest()
{
    lampTest_.finish(QStringLiteral("interrompido"));
    // No tick of the flag may come between the test's steps.
    const bool wasAnimating = animation_.isRunning();
    animation_.stop();
    lampTest_.begin();
    animation_.noteChange(wasAnimating, Origin::LampTest);
    lampTest_.run();
}

void PanelControl::stopLampTest()
{
    if (!lampTest_.isRunning()) return;
    // The sign put back is the lamp test's, whichever key ended it.
    chooseSign(chosen_, Origin::LampTest);
}

void PanelControl::resend()
{
    if (lampTest_.isRunning()) return;
    if (!animation_.isRunning()) {
        chooseSign(chosen_, Origin::KeepAlive);
        return;
    }
    // The flag's ticks carry its planes but no display_on: a panel that restarted (a power cut)
    // would stay dark through them. display_on alone lights it again and leaves the flag as it is.
    const Exchange x = exchange_.run(Origin::KeepAlive, [&] { sender_.sendDisplayOn(); });
    failedResends_.note(journal_, Origin::KeepAlive, QStringLiteral("reenvio"), Sign::Chequer, x);
}
