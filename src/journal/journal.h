// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal_vocabulary.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// Where the journal lives: $XDG_STATE_HOME/painel-sinaletico/registo.sqlite (~/.local/state
// when the variable is unset).
[[nodiscard]] QString journalPath();
// The control room's own journal, beside it: registo-central.sqlite.
[[nodiscard]] QString centralJournalPath();

class JournalStore;

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
    // The line's new state, in the words of `context` (origin, port, reason).
    void noteLine(LineState state, const JournalEntry& context);
    // How the entries' port numbers are written ("COM1") and which device each opens, looked
    // up on the journal's thread, once a batch; without it, "COM" and the number, and no device.
    using PortNames = std::function<std::pair<QString, QString>(int port)>;
    void namePorts(PortNames names);
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
    friend class JournalStore;
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
    bool closing_ = false;
    QThread thread_;
    QObject* context_ = nullptr; // lives on thread_: what is queued to it runs there
    JournalStore* store_ = nullptr;
};
