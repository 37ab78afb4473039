// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/remote_control.h"

#include "remote/panel_adaptor.h"
#include "serial/port_devices.h"
#include "session/panel_session.h"
#include "settings/setting_names.h"
#include "signs/sign_display.h"
#include "signs/sign_names.h"

#include <QDateTime>

Q_LOGGING_CATEGORY(remoteLog, "painel-sinaletico.remote", QtInfoMsg)

RemoteControl::RemoteControl(PanelSession& session, QObject* parent) : QObject(parent), session_(session)
{
    new PanelAdaptor(*this);
    connect(&session_.display(), &SignDisplay::chosenSignChanged, this, [this](Sign kind) { emit signChanged(signCaption(kind)); });
    connect(&session_.display(), &SignDisplay::linkStateChanged, this, [this](LinkState state) { emit linkStateChanged(linkStateText(state)); });
}

std::optional<QString> RemoteControl::start(QDBusConnection bus)
{
    if (!bus.isConnected()) return QStringLiteral("sem ligação ao bus de sessão: %1").arg(bus.lastError().message());
    bus_ = bus;
    if (!bus.registerObject(dbusPath, this)) return QStringLiteral("o objecto %1 já está registado").arg(dbusPath);
    if (!bus.registerService(dbusService)) {
        bus.unregisterObject(dbusPath);
        return QStringLiteral("o nome %1 já está tomado: %2").arg(dbusService, bus.lastError().message());
    }
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> RemoteControl::show(const QString& name)
{
    const std::optional<Sign> kind = signFromName(name);
    if (!kind) return std::pair{dbusUnknownSign, notASignText(name)};
    if (session_.chooseSign(*kind, Origin::Remote) == SendOutcome::Sent) return std::nullopt;
    const QString reason = lastFailure();
    return std::pair{dbusSendFailed, QStringLiteral("%1 não foi enviado: %2").arg(signCaption(*kind), reason.isEmpty() ? linkState() : reason)};
}

QString RemoteControl::sign() const { return signCaption(session_.display().chosenSign()); }

QString RemoteControl::mode() const { return modeName(session_.settings().signalMode); }

QString RemoteControl::colour() const { return signColourName(session_.settings()); }

QString RemoteControl::port() const { return comName(session_.settings().comPort); }

QString RemoteControl::device() const { return deviceForPort(session_.settings().comPort); }

QString RemoteControl::linkState() const { return linkStateText(session_.display().linkState()); }

QString RemoteControl::lastFailure() const
{
    const auto failure = session_.link().lastFailure(session_.settings().comPort);
    return failure ? QString::fromStdString(failure->reason) : QString();
}

PanelAdaptor::PanelAdaptor(RemoteControl& remote) : QDBusAbstractAdaptor(&remote), remote_(remote)
{
    connect(&remote_, &RemoteControl::signChanged, this, &PanelAdaptor::SignChanged);
    connect(&remote_, &RemoteControl::linkStateChanged, this, &PanelAdaptor::LinkStateChanged);
}

void PanelAdaptor::ShowSign(const QString& name, const QDBusMessage& message) { answer(name, message); }

void PanelAdaptor::ShowSignIndex(int index, const QDBusMessage& message) { answer(QString::number(index), message); }

void PanelAdaptor::answer(const QString& name, const QDBusMessage& message)
{
    // The reply waits for the sign to be on the line, so the caller knows it went out whole.
    if (const auto error = remote_.show(name)) {
        message.setDelayedReply(true);
        remote_.bus().send(message.createErrorReply(error->first, error->second));
    }
}
