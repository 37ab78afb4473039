// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/central_program.h"
#include "journal/journal_chain.h"
#include "painel_version.h"
#include "platform/qt_translation.h"
#include "platform/starting_console.h"
#include "program_icon.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char** argv)
{
    // --help and --version need no display.
    if (argc > 1) {
        useStartingConsole();
        const QCoreApplication app(argc, argv);
        installQtTranslation();
        QCommandLineParser parser;
        parser.setApplicationDescription(QStringLiteral("A central dos painéis de vários postos: vê e escolhe o sinal de cada posto "
                                                        "pelo broker MQTT que os postos usam (ficheiro painel-central.conf)."));
        const QCommandLineOption help = parser.addHelpOption();
        const QCommandLineOption version = parser.addVersionOption();
        const QCommandLineOption verify(QStringLiteral("verificar-registo"),
                                        QStringLiteral("Verifica a cadeia do registo da central (ou de FICHEIRO) e diz onde se quebra: 0 íntegro, 1 "
                                                       "alterado, 2 não se pode verificar."));
        parser.addOption(verify);
        parser.addPositionalArgument(QStringLiteral("FICHEIRO"), QStringLiteral("Com --verificar-registo: o registo a verificar."),
                                     QStringLiteral("[FICHEIRO]"));
        const bool parsed = parser.parse(QCoreApplication::arguments());
        if (parsed && parser.isSet(verify) && parser.positionalArguments().size() <= 1)
            return verifyJournal(parser.positionalArguments().value(0, centralJournalPath()));
        if (!parsed || !parser.positionalArguments().isEmpty()) {
            const QString error = parser.errorText().isEmpty() ? QStringLiteral("argumento a mais: %1").arg(parser.positionalArguments().join(QLatin1Char(' ')))
                                                               : parser.errorText();
            std::fputs((error + QLatin1Char('\n')).toUtf8().constData(), stderr);
            return 2;
        }
        const QString text = parser.isSet(help) ? parser.helpText().trimmed() : QStringLiteral("painel-central %1").arg(QStringLiteral(PAINEL_VERSION));
        std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), stdout);
        return parser.isSet(help) || parser.isSet(version) ? 0 : 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("painel-central"));
    QApplication::setDesktopFileName(QStringLiteral(PAINEL_APP_ID ".Central"));
    QApplication::setWindowIcon(programIcon());
    installQtTranslation();
    Journal journal(centralJournalPath());
    CentralProgram program(centralSettingsPath(), &journal);
    program.window.show();
    program.startLink();
    const int code = QApplication::exec();
    journal.flush();
    return code;
}
