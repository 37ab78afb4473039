// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"
#include "painel_version.h"
#include "platform/process_end.h"
#include "platform/qt_translation.h"
#include "program_icon.h"
#include "remote/command_line.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // With arguments it is the command line, which needs no display: it asks the running copy.
    if (argc > 1) {
        const QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("painel-sinaletico"));
        QCoreApplication::setApplicationVersion(QStringLiteral(PAINEL_VERSION));
        installQtTranslation();
        return runCommandLine(QCoreApplication::arguments());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("painel-sinaletico"));
    QApplication::setDesktopFileName(QStringLiteral(PAINEL_APP_ID));
    QApplication::setWindowIcon(programIcon());
    installQtTranslation();
    return endOfProgram(runPanelProgram());
}
