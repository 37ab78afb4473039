#include "app/startup.h"

#include "app/form1.h"
#include "app/raise_requests.h"
#include "app/remote_control.h"
#include "app/single_instance.h"
#include "panel/port_devices.h"
#include "panel/qt_serial_port.h"
#include "prefs/journal.h"
#include "prefs/panel_settings.h"
#include "prefs/preferences_file.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

QString appTitle;
Form1* mainForm = nullptr;

namespace {
PanelSettings panelSettings;
}

std::unique_ptr<QMessageBox> secondCopyMessage()
{
    return std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("Info"),
                                         QStringLiteral("Sorry! Para esse já dei..;-)."), QMessageBox::Ok);
}

int Main()
{
    appTitle = QStringLiteral("Tramonda 2003 - Painel Sinalético, Vrs. 1.3");

    SingleInstance instance;
    if (!instance.acquire()) {
        secondCopyMessage()->exec();
        // Then the operator finds the running copy in front rather than hidden or minimised.
        (void)RaiseRequests::ask(instance.holder());
        return 0;
    }

    const QString preferences = preferencesPath(configFolder());
    removeStaleTemporaries(preferences);
    QtSerialPort MSComm1;
    // Made before the window and gone after it, so its last entries are written before the end.
    Journal journal(journalPath());
    Form1 form(appTitle, panelSettings, MSComm1, preferences, &journal);
    mainForm = &form;
    const RaiseRequests raise([&form] { form.comeForward(); });
    // Other programs and the command line choose signs through it; the window works without it.
    RemoteControl remote(form);
    if (const auto failure = remote.start(QDBusConnection::sessionBus()))
        std::fprintf(stderr, "painel-sinaletico: sem controlo remoto (%s)\n", qPrintable(*failure));
    form.show();
    const int code = QApplication::exec();
    mainForm = nullptr;
    return code;
}
