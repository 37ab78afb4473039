// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_line.h"

#include <QDateTime>
#include <QString>

#include <vector>

// The journal's words: who started an action, how the line stood, how a send ended, what one
// entry holds and the columns it is shown in.

// Who or what started an action.
// Safety: the post's own rule when race control is lost; DurationEnd: a sign's time ran out.
enum class Origin { Mouse, Keyboard, Accessibility, Startup, Animation, LampTest, KeepAlive, Remote, Operator, Central, Safety, DurationEnd };
[[nodiscard]] QString originText(Origin origin);

// How the line stood after an exchange with the panel.
enum class LineState { Unknown, Up, NotOpened, WriteFailed };
[[nodiscard]] LineState lineStateOf(SendOutcome outcome);
// "enviado", "porta não abriu", "falhou na escrita".
[[nodiscard]] QString outcomeText(SendOutcome outcome);
// "ligação em ordem", "porta não abre", "escrita falha", or "desconhecido" before any exchange.
[[nodiscard]] QString lineStateText(LineState state);

// One line of the operator journal.
struct JournalEntry {
    // Shown both in local time and in UTC; taken in UTC, which costs the window least.
    QDateTime when = QDateTime::currentDateTimeUtc();
    Origin origin = Origin::Mouse;
    QString action; // "sinal", "início da animação", "preferências", ...
    QString sign;   // the sign's caption, when the action concerns one
    QString mode;   // "multicor" or "monocor"
    QString colour; // the mono-colour signs' colour
    int port = 0;   // 0 when no port is concerned
    QString device; // left empty: the device `port` opens, looked up on the journal's thread
    qint64 bytes = 0;
    QString echo;    // the cable's echo: "desligado", "confirmado", "sem eco", ... ; empty where no send
    QString outcome; // "enviado", "porta não abriu", "falhou na escrita", "feito", ...
    QString reason;  // why it failed
    QString detail;  // old and new values, counts
    QString post;    // the control room's: the post the entry is about, its lane in the timeline
    bool failure = false;
};

// An entry that concerns no sign or port.
[[nodiscard]] JournalEntry journalEntry(Origin origin, const QString& action, const QString& outcome, const QString& reason, const QString& detail,
                                        bool failure);

// The columns of the journal's table, in the order the window and the CSV show them.
struct JournalColumn {
    const char* name;  // in the database
    const char* title; // for the operator
};
[[nodiscard]] const std::vector<JournalColumn>& journalColumns();
