// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/dbus_remote.h"

#include "remote/dbus_adaptor.h"
#include "session/panel_session.h"
#include "signs/sign_names.h"

DBusRemote::DBusRemote(PanelSession& session, QObject* parent) : QObject(parent), requests_(session), sign_(session.chosenSign())
{
    new DBusAdaptor(*this);
    connect(&session, &PanelSession::signChosen, this, [this](const PanelSession::Choice& choice) {
        if (std::exchange(sign_, choice.sign) != choice.sign) emit signChanged(signCaption(choice.sign));
    });
    connect(&session, &PanelSession::lineStateChanged, this, [this](LineState state) { emit lineStateChanged(lineStateText(state)); });
    connect(&session, &PanelSession::echoChanged, this, [this](Echo echo) { emit echoChanged(QString::fromStdString(echoWord(echo))); });
}

std::optional<QString> DBusRemote::start(QDBusConnection bus)
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

std::optional<std::pair<QString, QString>> DBusRemote::show(const QString& name)
{
    const auto refusal = requests_.show(name);
    if (!refusal) return std::nullopt;
    using Why = PanelRequests::Refusal::Why;
    const QString& error = refusal->why == Why::UnknownSign ? dbusUnknownSign : refusal->why == Why::NoEcho ? dbusNoEcho : dbusSendFailed;
    return std::pair{error, refusal->message};
}

DBusAdaptor::DBusAdaptor(DBusRemote& remote) : QDBusAbstractAdaptor(&remote), remote_(remote)
{
    connect(&remote_, &DBusRemote::signChanged, this, &DBusAdaptor::SignChanged);
    connect(&remote_, &DBusRemote::lineStateChanged, this, &DBusAdaptor::LinkStateChanged);
    connect(&remote_, &DBusRemote::echoChanged, this, &DBusAdaptor::EchoChanged);
}

void DBusAdaptor::ShowSign(const QString& name, const QDBusMessage& message) { answer(name, message); }

void DBusAdaptor::ShowSignIndex(int index, const QDBusMessage& message) { answer(QString::number(index), message); }

void DBusAdaptor::answer(const QString& name, const QDBusMessage& message)
{
    // The reply waits for the sign to be on the line, so the caller knows it went out whole.
    if (const auto error = remote_.show(name)) {
        message.setDelayedReply(true);
        remote_.bus().send(message.createErrorReply(error->first, error->second));
    }
}
