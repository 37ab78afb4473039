// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "painel_version.h"
#include "remote/panel_requests.h"
#include "signs/sign_table.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <optional>
#include <utility>

class PanelSession;

// The program on the session bus, for other programs and for its own command line: signs are
// chosen as a click chooses them (origin "remoto"), and the state can be read and followed.
inline const QString dbusService = QStringLiteral(PAINEL_APP_ID);
inline const QString dbusPath = QStringLiteral("/io/github/painel_sinaletico/PainelSinaletico");
inline const QString dbusInterface = QStringLiteral(PAINEL_APP_ID ".Painel1");
inline const QString dbusUnknownSign = dbusInterface + QStringLiteral(".Error.UnknownSign");
inline const QString dbusSendFailed = dbusInterface + QStringLiteral(".Error.SendFailed");
// The sign went out whole, but the cable's echo did not prove it reached the panel.
inline const QString dbusNoEcho = dbusInterface + QStringLiteral(".Error.NoEcho");

class DBusRemote final : public QObject {
    Q_OBJECT
public:
    explicit DBusRemote(PanelSession& session, QObject* parent = nullptr);

    // Registers the object and takes the service name; nullopt when done, else why not.
    [[nodiscard]] std::optional<QString> start(QDBusConnection bus);

    // The sign named or at place n, as a click sends it; nullopt when it went out whole,
    // otherwise the D-Bus error's name and message.
    [[nodiscard]] std::optional<std::pair<QString, QString>> show(const QString& name);

    // The bus it was started on, where delayed replies go.
    [[nodiscard]] const QDBusConnection& bus() const { return bus_; }

    [[nodiscard]] const PanelRequests& panel() const { return requests_; }

signals:
    void signChanged(const QString& sign);
    void lineStateChanged(const QString& state);
    void echoChanged(const QString& echo);

private:
    PanelRequests requests_;
    Sign sign_; // as SignChanged last told it
    QDBusConnection bus_ = QDBusConnection(QString());
};
