// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/panel_requests.h"

#include "serial/port_devices.h"
#include "session/panel_session.h"
#include "settings/setting_names.h"
#include "signs/sign_names.h"

Q_LOGGING_CATEGORY(remoteLog, "painel-sinaletico.remote", QtInfoMsg)

std::optional<PanelRequests::Refusal> PanelRequests::show(const QString& name)
{
    const std::optional<Sign> kind = signFromName(name);
    if (!kind) return Refusal{Refusal::Why::UnknownSign, notASignText(name)};
    if (session_.chooseSign(*kind, Origin::Remote) == SendOutcome::Sent) {
        const auto& choice = session_.lastChoice();
        if (!choice || !echoFailed(choice->echo)) return std::nullopt;
        return Refusal{Refusal::Why::NoEcho, QStringLiteral("%1 enviado, mas sem prova de que chegou ao painel: %2").arg(signCaption(*kind), choice->reason)};
    }
    const QString reason = lastFailure();
    return Refusal{Refusal::Why::NotSent, QStringLiteral("%1 não foi enviado: %2").arg(signCaption(*kind), reason.isEmpty() ? lineState() : reason)};
}

QString PanelRequests::sign() const { return signCaption(session_.chosenSign()); }

QString PanelRequests::mode() const { return modeName(session_.settings().signalMode); }

QString PanelRequests::colour() const { return signColourName(session_.settings()); }

QString PanelRequests::port() const { return comName(session_.settings().comPort); }

QString PanelRequests::device() const { return deviceForPort(session_.settings().comPort); }

QString PanelRequests::lineState() const { return lineStateText(session_.lineState()); }

QString PanelRequests::lastFailure() const
{
    const auto failure = session_.lastFailure(session_.settings().comPort);
    return failure ? QString::fromStdString(failure->reason) : QString();
}

QString PanelRequests::echo() const { return QString::fromStdString(echoWord(session_.echo())); }

QString PanelRequests::remainingSeconds() const
{
    const QDateTime ends = session_.timedSignEnds();
    if (!ends.isValid()) return {};
    // Whole seconds still to come, rounded up: "1" until the very end, never "0" while it stands.
    return QString::number((QDateTime::currentDateTimeUtc().msecsTo(ends) + 999) / 1000);
}

QString PanelRequests::stateText() const
{
    const std::pair<const char*, QString> lines[] = {{"sinal", sign()},
                                                     {"modo", mode()},
                                                     {"cor", colour()},
                                                     {"porta", port()},
                                                     {"dispositivo", device()},
                                                     {"ligacao", lineState()},
                                                     {"ultima_falha", lastFailure()},
                                                     {"eco", echo()},
                                                     {"resta_s", remainingSeconds()}};
    QString text;
    for (const auto& [key, value] : lines) text += QStringLiteral("%1: %2\n").arg(QLatin1String(key), value);
    return text.trimmed();
}
