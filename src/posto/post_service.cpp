// SPDX-License-Identifier: GPL-3.0-or-later
#include "posto/post_service.h"

#include "journal/journal.h"
#include "painel_version.h"
#include "platform/signal_events.h"
#include "platform/single_instance.h"
#include "post/post_core.h"
#include "posto/service_manager.h"
#include "posto/system_log_display.h"
#include "remote/local_requests.h"
#include "remote/panel_requests.h"
#include "serial/port_devices.h"
#include "serial/system_serial_port.h"
#include "settings/preferences_file.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#ifdef PAINEL_DBUS
#include "remote/dbus_remote.h"
#endif

#include <cstdio>

namespace {
int refuse(const QString& why)
{
    qCCritical(postLog, "%s", qPrintable(why));
    return 1;
}
} // namespace

int runPostService(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Um posto sem ecrã: o painel na porta de pref.vyr, com o registo, o MQTT e a porta local "
                                                    "do painel-sinaletico (--sinal, --estado)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption group(QStringLiteral("grupo"), QStringLiteral("Abre a porta local também aos membros do grupo deste processo."));
    parser.addOption(group);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return refuse(parser.errorText().isEmpty() ? QStringLiteral("argumento a mais (--help diz mais)") : parser.errorText());
    if (parser.isSet(help) || parser.isSet(version)) {
        std::fputs(
            qPrintable((parser.isSet(help) ? parser.helpText().trimmed() : QStringLiteral("painel-posto %1").arg(QStringLiteral(PAINEL_VERSION))) + '\n'),
            stdout);
        return 0;
    }

    SingleInstance instance;
    if (!instance.acquire()) return refuse(QStringLiteral("já corre um posto deste utilizador (painel-posto ou painel-sinaletico)"));
    ServiceManager manager;
    SystemSerialPort port;
    SystemLogDisplay display;
    Journal journal(journalPath(), {}, Journal::Start::Later);
    PostCore post(port, display, display, preferencesPath(configFolder()), &journal);
    for (const QString& problem : post.session.moreSettingsProblems()) qCWarning(postLog, "%s", qPrintable(problem));
    // Nothing goes on the line while another program drives this panel: not even the start-up.
    if (const auto holder = post.claimPort()) {
        journal.record(journalEntry(Origin::Startup, QStringLiteral("arranque"), QStringLiteral("recusado"), *holder, {}, true));
        journal.flush();
        return refuse(*holder + QStringLiteral(": este posto termina"));
    }
    QObject::connect(&post.session, &PanelSession::notesChanged, &manager, [](const QString& notes) {
        if (!notes.isEmpty()) qCWarning(postLog, "%s", qPrintable(notes));
    });

    PanelRequests requests(post.session);
    LocalRequests door(requests, {});
#ifdef PAINEL_DBUS
    DBusRemote remote(post.session);
#endif
    QObject::connect(&post.session, &PanelSession::startUpSent, &manager, [&] {
        journal.flush();
        if (const auto failure = door.listen({}, parser.isSet(group) ? LocalRequests::Access::Group : LocalRequests::Access::User))
            qCWarning(postLog, "sem pedidos locais (%s)", qPrintable(*failure));
#ifdef PAINEL_DBUS
        // A user's service has the session bus of its log-in; the system's has none to be on.
        if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) {
            if (const auto failure = remote.start(QDBusConnection::sessionBus())) qCWarning(postLog, "sem D-Bus (%s)", qPrintable(*failure));
        }
#endif
        manager.ready();
        manager.status(QStringLiteral("%1 em %2").arg(requests.sign(), requests.port()));
    });
    QObject::connect(&post.session, &PanelSession::signChosen, &manager,
                     [&] { manager.status(QStringLiteral("%1 em %2").arg(requests.sign(), requests.port())); });
    // systemd's stop, a shutdown or Ctrl+C end it as "Sair" ends the desk program.
    SignalEvents endSignals(SignalEvents::endings());
    QObject::connect(&endSignals, &SignalEvents::received, &manager, [] { QCoreApplication::exit(0); });

    post.session.start();
    const int code = QCoreApplication::exec();
    manager.stopping();
    post.stop();
    journal.flush();
    return code;
}
