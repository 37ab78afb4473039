// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_line.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

class QSqlError;

#include <functional>
#include <mutex>
#include <vector>

// Who or what started an action.
enum class Origin { Mouse, Keyboard, Accessibility, Startup, Animation, LampTest, KeepAlive, Remote, Operator, Central };
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
    QString outcome; // "enviado", "porta não abriu", "falhou na escrita", "feito", ...
    QString reason;  // why it failed
    QString detail;  // old and new values, counts
    bool failure = false;
};

// An entry that concerns no sign or port.
[[nodiscard]] JournalEntry journalEntry(Origin origin, const QString& action, const QString& outcome, const QString& reason, const QString& detail,
                                        bool failure);

// Where the journal lives: $XDG_STATE_HOME/painel-sinaletico/registo.sqlite (~/.local/state
// when the variable is unset).
[[nodiscard]] QString journalPath();
// The control room's own journal, beside it: registo-central.sqlite.
[[nodiscard]] QString centralJournalPath();

// The columns of the journal's table, in the order the window and the CSV show them.
struct JournalColumn {
    const char* name;  // in the database
    const char* title; // for the operator
};
[[nodiscard]] const std::vector<JournalColumn>& journalColumns();

class JournalWriter;

// The operator journal, kept in SQLite on a thread of its own: recording an entry only queues
// it, so a slow, full, locked or broken journal never holds up the window or the line. When it
// cannot be kept the program says so once (`problemChanged`) and carries on; a corrupt file is
// set aside under a name with the time and a new one begun.
class Journal final : public QObject {
    Q_OBJECT
public:
    // Whether the journal's thread, and with it the file and the database library, start at
    // once or at start(): the program starts them once the panel's start-up is on the line.
    enum class Start { Now, Later };
    // `whenMet` is called once, on the journal's thread, when it has first tried its file: the
    // database library's own lasting state is set up by then.
    explicit Journal(QString fileName, std::function<void()> whenMet = {}, Start start = Start::Now, QObject* parent = nullptr);
    ~Journal() override;

    // What was recorded until now is then written; a flush or the end start it too.
    void start();

    void record(JournalEntry entry);
    // The link's new state, in the words of `context` (origin, port, reason).
    void noteLink(LineState state, const JournalEntry& context);
    static constexpr int maxRetentionDays = 3650;
    // Removes entries older than `days` now, and at every later start-up.
    void setRetention(int days);
    // Past `megabytes` the oldest entries go first, now and with every write; said once a run.
    void setSizeLimit(int megabytes);
    // Entries are gathered this long and written in one transaction.
    static constexpr int gatherMs = 250;
    // Entries that could not be written are tried again this often.
    static constexpr int retryMs = 2000;
    // Returns once every entry recorded so far is written, or given up.
    void flush();

    [[nodiscard]] const QString& fileName() const { return fileName_; }
    // Why the journal is not being kept; empty while it is.
    [[nodiscard]] const QString& problem() const { return problem_; }

signals:
    void problemChanged(const QString& problem);
    // Entries reached the file: an open journal window shows them.
    void written();

private:
    friend class JournalWriter;
    void setProblem(const QString& problem);
    // What was recorded since the last call, for the writer.
    [[nodiscard]] std::vector<JournalEntry> takeQueued();

    QString fileName_;
    QString problem_;
    std::function<void()> whenMet_;
    // Recording only appends here; the writer is woken once a burst, not once an entry.
    std::mutex mutex_;
    std::vector<JournalEntry> queued_;
    bool gathering_ = false;
    QThread thread_;
    QObject* context_ = nullptr; // lives on thread_: what is queued to it runs there
    JournalWriter* writer_ = nullptr;
};

// Why SQLite could not use `fileName`, in the operator's words, from the error's code.
[[nodiscard]] QString sqliteCause(const QSqlError& error, const QString& fileName);

// One field of a CSV record (RFC 4180): quoted when it holds a comma, a quote or a line break.
[[nodiscard]] QByteArray csvField(const QString& text);
// One record, its fields joined by commas and ended by CR LF, in UTF-8.
[[nodiscard]] QByteArray csvRecord(const QStringList& fields);
