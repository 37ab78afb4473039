// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"

#include <QDateTime>
#include <QString>

// A control room's journal of a minute, known to the millisecond: what the timeline must draw
// from it is spelt out in the tests. Two posts from `start`: curva-1 (its clock 1.2 s ahead)
// shows Parar, the flag from 20 s, a failed send at 40 s, and leaves a request unanswered at 30 s;
// reta-2 shows Parar without the cable's echo, then goes off line at 10 s. One request at the
// start names both.
inline void writeSiteMinute(Journal& journal, const QDateTime& start)
{
    const auto at = [&](qint64 ms, const char* post, const char* action, const QString& detail, const char* sign = "", const char* outcome = "", const char* echo = "",
                        bool failure = false) {
        JournalEntry e = journalEntry(Origin::Central, QString::fromUtf8(action), QString::fromUtf8(outcome), {}, detail, failure);
        e.when = start.addMSecs(ms);
        e.sign = QString::fromUtf8(sign);
        e.echo = QString::fromUtf8(echo);
        e.post = QString::fromUtf8(post);
        journal.record(e);
    };
    const auto state = [&](qint64 ms, const char* post, const char* shown, qint64 offsetMs) {
        // Only the first states carried the request out.
        return QStringLiteral("%1; mostra %2; origem %3; hora do posto %4; relógio do posto +%5 ms")
            .arg(QString::fromUtf8(post), QString::fromUtf8(shown), ms < 1000 ? QStringLiteral("central; pedido p-1") : QStringLiteral("teclado"),
                 start.addMSecs(ms + offsetMs).toUTC().toString(Qt::ISODateWithMs))
            .arg(offsetMs);
    };
    at(0, "", "pedido", QStringLiteral("pedido p-1 a 2 postos: curva-1, reta-2"), "Parar", "enviado");
    at(40, "curva-1", "sinal do posto", state(0, "curva-1", "Parar", 1200), "Parar", "enviado", "confirmado");
    at(60, "reta-2", "sinal do posto", state(50, "reta-2", "Parar", 0), "Parar", "enviado", "sem eco", true);
    at(10'000, "reta-2", "posto fora de linha", QStringLiteral("reta-2"), "", "fora de linha", "", true);
    at(20'040, "curva-1", "sinal do posto", state(20'000, "curva-1", "Xadrez", 1200), "Xadrez", "enviado", "confirmado");
    at(30'000, "curva-1", "sem resposta", QStringLiteral("curva-1; pedido p-2"), "", "sem resposta", "", true);
    at(40'040, "curva-1", "sinal do posto", state(40'000, "curva-1", "Xadrez", 1200), "Frente", "falhou na escrita", "não verificado", true);
    journal.flush();
}
