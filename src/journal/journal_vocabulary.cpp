// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal_vocabulary.h"

QString originText(Origin origin)
{
    switch (origin) {
    case Origin::Mouse: return QStringLiteral("rato");
    case Origin::Keyboard: return QStringLiteral("teclado");
    case Origin::Accessibility: return QStringLiteral("acessibilidade");
    case Origin::Startup: return QStringLiteral("arranque");
    case Origin::Animation: return QStringLiteral("animação");
    case Origin::LampTest: return QStringLiteral("teste");
    case Origin::KeepAlive: return QStringLiteral("reenvio");
    case Origin::Remote: return QStringLiteral("remoto");
    case Origin::Operator: return QStringLiteral("operador");
    case Origin::Central: return QStringLiteral("central");
    case Origin::Safety: return QStringLiteral("segurança");
    case Origin::DurationEnd: return QStringLiteral("fim de duração");
    }
    return {};
}

LineState lineStateOf(SendOutcome outcome)
{
    switch (outcome) {
    case SendOutcome::Sent: return LineState::Up;
    case SendOutcome::NotOpened: return LineState::NotOpened;
    case SendOutcome::Failed: return LineState::WriteFailed;
    }
    return LineState::Unknown;
}

QString outcomeText(SendOutcome outcome)
{
    switch (outcome) {
    case SendOutcome::Sent: return QStringLiteral("enviado");
    case SendOutcome::NotOpened: return QStringLiteral("porta não abriu");
    case SendOutcome::Failed: return QStringLiteral("falhou na escrita");
    }
    return {};
}

QString lineStateText(LineState state)
{
    switch (state) {
    case LineState::Up: return QStringLiteral("ligação em ordem");
    case LineState::NotOpened: return QStringLiteral("porta não abre");
    case LineState::WriteFailed: return QStringLiteral("escrita falha");
    case LineState::Unknown: break;
    }
    return QStringLiteral("desconhecido");
}

JournalEntry journalEntry(Origin origin, const QString& action, const QString& outcome, const QString& reason, const QString& detail, bool failure)
{
    JournalEntry e;
    e.origin = origin;
    e.action = action;
    e.outcome = outcome;
    e.reason = reason;
    e.detail = detail;
    e.failure = failure;
    return e;
}

const std::vector<JournalColumn>& journalColumns()
{
    static const std::vector<JournalColumn> columns{
        {"hora_local", "Hora"}, {"hora_utc", "Hora UTC"}, {"origem", "Origem"},           {"acao", "Acção"},  {"sinal", "Sinal"}, {"modo", "Modo"},
        {"cor", "Cor"},         {"porta", "Porta"},       {"dispositivo", "Dispositivo"}, {"bytes", "Bytes"}, {"eco", "Eco"},     {"resultado", "Resultado"},
        {"motivo", "Motivo"},   {"pormenor", "Pormenor"},
    };
    return columns;
}
