// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/command_line.h"

#include "journal/journal.h"
#include "journal/journal_chain.h"
#include "painel_version.h"
#include "platform/starting_console.h"
#include "remote/local_requests.h"
#include "signs/sign_names.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

// A sign goes out within a second even on a failing line; a copy stuck in a dialog of its own
// still answers, as dialogs run the event loop.
constexpr int replyTimeoutMs = 10'000;

int say(int code, const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toUtf8().constData(), code == exitDone ? stdout : stderr);
    return code;
}

} // namespace

int runCommandLine(const QStringList& arguments)
{
    useStartingConsole();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Mostra um sinal no painel pelo programa que está a correr, ou diz o seu estado."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption sign(QStringLiteral("sinal"),
                                  QStringLiteral("Mostra o sinal NOME (Parar, Frente, Esquerda, Direita, Xadrez; maiúsculas e acentos "
                                                 "indiferentes) ou N (1 a 5, pela ordem do ecrã), como um clique."),
                                  QStringLiteral("NOME|N"));
    const QCommandLineOption state(QStringLiteral("estado"), QStringLiteral("Escreve o sinal, o modo, a cor, a porta, o dispositivo e o "
                                                                            "estado da ligação, um \"chave: valor\" por linha."));
    const QCommandLineOption verify(QStringLiteral("verificar-registo"),
                                    QStringLiteral("Verifica a cadeia do registo (o deste utilizador, ou FICHEIRO) e diz onde se quebra: 0 íntegro, 1 "
                                                   "alterado, 2 não se pode verificar."));
    parser.addOption(sign);
    parser.addOption(state);
    parser.addOption(verify);
    parser.addPositionalArgument(QStringLiteral("FICHEIRO"), QStringLiteral("Com --verificar-registo: o registo a verificar."), QStringLiteral("[FICHEIRO]"));
    if (!parser.parse(arguments)) return say(exitBadArgument, parser.errorText());
    if (parser.isSet(help)) return say(exitDone, parser.helpText().trimmed());
    if (parser.isSet(version)) return say(exitDone, QStringLiteral("painel-sinaletico %1").arg(QStringLiteral(PAINEL_VERSION)));
    if (parser.isSet(verify) && !parser.isSet(sign) && !parser.isSet(state) && parser.positionalArguments().size() <= 1)
        return verifyJournal(parser.positionalArguments().value(0, journalPath()));
    if (!parser.positionalArguments().isEmpty())
        return say(exitBadArgument, QStringLiteral("argumento a mais: %1").arg(parser.positionalArguments().join(QLatin1Char(' '))));
    if (parser.isSet(sign) == parser.isSet(state) || parser.values(sign).size() > 1 || parser.isSet(verify))
        return say(exitBadArgument, QStringLiteral("indique --sinal NOME, --estado ou --verificar-registo (--help diz mais)"));
    if (parser.isSet(sign) && !signFromName(parser.value(sign))) return say(exitBadArgument, notASignText(parser.value(sign)));

    const auto reply = LocalRequests::ask(parser.isSet(sign) ? QStringLiteral("sinal ") + parser.value(sign) : QStringLiteral("estado"), replyTimeoutMs);
    if (!reply) return say(exitNotRunning, QStringLiteral("o painel-sinaletico não está a correr nesta sessão"));
    return reply->text.isEmpty() && reply->code == exitDone ? exitDone : say(reply->code, reply->text);
}
