// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include "app/panel_program.h"
#include "journal/journal.h"
#include "platform/signal_events.h"
#include "platform/single_instance.h"
#include "remote/local_requests.h"
#include "remote/panel_requests.h"
#include "serial/port_devices.h"
#include "serial/system_serial_port.h"
#include "settings/preferences_file.h"

#include <QApplication>
#include <QMessageBox>

#ifdef PAINEL_DBUS
#include "remote/dbus_remote.h"
#endif

#include <cstdlib>
#include <functional>
#include <utility>

namespace {
// What must be done however the program ends, while the window and the journal still exist.
std::function<void()> lastWords;

extern "C" void sayLastWords()
{
    if (!lastWords) return;
    std::exchange(lastWords, nullptr)();
    // The rest of the way out would tear Qt down under threads that still run.
    std::_Exit(0);
}
} // namespace

std::unique_ptr<QMessageBox> secondCopyMessage()
{
    return std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("Info"), QStringLiteral("Sorry! Para esse já dei..;-)."), QMessageBox::Ok);
}

int runPanelProgram()
{
    SingleInstance instance;
    if (!instance.acquire()) {
        secondCopyMessage()->exec();
        // Then the operator finds the running copy in front rather than hidden or minimised.
        (void)LocalRequests::ask(QStringLiteral("raise"), 2000);
        return 0;
    }

    const QString preferences = preferencesPath(configFolder());
    removeStaleTemporaries(preferences);
    SystemSerialPort port;
    // Made before the window and gone after it, so its last entries are written before the end.
    // The last words below are registered once the journal has met its file: exit() runs its
    // handlers newest first, so they then run before the database library cleans up after itself.
    Journal journal(
        journalPath(), [] { std::atexit(sayLastWords); }, Journal::Start::Later);
    PanelProgram program(QStringLiteral("Tramonda 2003 - Painel Sinalético, Vrs. 1.3"), port, preferences, &journal);
    MainWindow& form = program.window;
    // One program drives a panel: the post without a screen may have it already.
    if (const auto holder = program.claimPort()) {
        QString text = *holder + QLatin1Char('.');
        text[0] = text[0].toUpper();
        QMessageBox(QMessageBox::Warning, QStringLiteral("Info"), text, QMessageBox::Ok).exec();
        return 1;
    }
    // The command line, a second copy and other programs come in through these; the window
    // works without them.
    PanelRequests requests(program.session);
    LocalRequests door(requests, [&form] { form.comeForward(); });
#ifdef PAINEL_DBUS
    DBusRemote remote(program.session);
#endif
    // The panel's start-up goes first: the journal's file and database library, the ways in
    // and the broker (above) are taken up once its bytes are on the line.
    // Waiting for the journal's file here also has the last words registered (by then) before
    // anything can end the program from inside Qt.
    QObject::connect(&program.session, &PanelSession::startUpSent, &door, [&] {
        journal.flush();
        if (const auto failure = door.listen()) qCWarning(remoteLog, "sem pedidos locais (%s)", qPrintable(*failure));
#ifdef PAINEL_DBUS
        if (const auto failure = remote.start(QDBusConnection::sessionBus())) qCWarning(remoteLog, "sem controlo remoto (%s)", qPrintable(*failure));
#endif
    });
    // A log-out, a shutdown or a kill ends the program as "Sair" does: whatever runs finishes,
    // then the window goes, MQTT says "offline" and the journal is written out.
    SignalEvents endSignals(SignalEvents::endings());
    QObject::connect(&endSignals, &SignalEvents::received, &form, [] { QCoreApplication::exit(0); });
    // The display going away ends the program from inside Qt, by exit(), past all of the above:
    // the same last words are said on the way out.
    lastWords = [&program, &journal] {
        program.stop();
        journal.flush();
    };
    form.show();
    const int code = QApplication::exec();
    lastWords = nullptr;
    return code;
}
