// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_control.h"

#include "app/form1.h"
#include "app/panel_adaptor.h"
#include "panel/port_devices.h"
#include "prefs/form5.h"
#include "signs/sign_display.h"
#include "signs/sign_names.h"

#include <QDateTime>

RemoteControl::RemoteControl(Form1& form, QObject* parent) : QObject(parent), form_(form)
{
    new PanelAdaptor(*this);
    connect(&form_.signDisplay(), &SignDisplay::chosenSignChanged, this, [this](SignKind kind) { emit signChanged(signCaption(kind)); });
    connect(&form_.signDisplay(), &SignDisplay::linkStateChanged, this,
            [this](LinkState state) { emit linkStateChanged(linkStateText(state)); });
}

std::optional<QString> RemoteControl::start(QDBusConnection bus)
{
    if (!bus.isConnected()) return QStringLiteral("sem ligação ao bus de sessão: %1").arg(bus.lastError().message());
    findChild<PanelAdaptor*>()->bus_ = bus;
    if (!bus.registerObject(dbusPath, this)) return QStringLiteral("o objecto %1 já está registado").arg(dbusPath);
    if (!bus.registerService(dbusService)) {
        bus.unregisterObject(dbusPath);
        return QStringLiteral("o nome %1 já está tomado: %2").arg(dbusService, bus.lastError().message());
    }
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> RemoteControl::show(const QString& name)
{
    const std::optional<SignKind> kind = signFromName(name);
    if (!kind)
        return std::pair{dbusUnknownSign, notASignText(name)};
    if (form_.chooseSign(*kind, Origin::Remote) == SendOutcome::Sent) return std::nullopt;
    const QString reason = lastFailure();
    return std::pair{dbusSendFailed, QStringLiteral("%1 não foi enviado: %2").arg(signCaption(*kind), reason.isEmpty() ? linkState() : reason)};
}

QString RemoteControl::sign() const { return signCaption(form_.signDisplay().chosenSign()); }

QString RemoteControl::mode() const
{
    return Form5::nameFromMode(form_.settings().signalMode);
}

QString RemoteControl::colour() const
{
    return form_.settings().signalMode == multiColourSigns ? QString() : Form5::nameFromColour(form_.settings().signColour);
}

QString RemoteControl::port() const { return comName(form_.settings().comPort); }

QString RemoteControl::device() const { return deviceForPort(form_.settings().comPort); }

QString RemoteControl::linkState() const { return linkStateText(form_.signDisplay().linkState()); }

QString RemoteControl::lastFailure() const
{
    const auto failure = form_.link().lastFailure(form_.settings().comPort);
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
        bus_.send(message.createErrorReply(error->first, error->second));
    }
}
