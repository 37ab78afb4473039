// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal_vocabulary.h"

#include <QSqlDatabase>
#include <QString>

#include <deque>
#include <functional>
#include <limits>
#include <utility>

class Journal;
class QObject;
class QSqlError;

// The journal's schema as this program writes it (SQLite's user_version).
[[nodiscard]] int journalSchemaVersion();

// Why SQLite could not use `fileName`, in the operator's words, from the error's code.
[[nodiscard]] QString sqliteCause(const QSqlError& error, const QString& fileName);

// The journal's file: its schema and the steps that bring an older one up to date, how long
// entries are kept and how large it may grow, a damaged file set aside. It owns the database
// connection, on the journal's thread: every call but the constructor runs there.
class JournalStore {
public:
    JournalStore(QString fileName, Journal& owner, QObject& context);
    ~JournalStore();
    JournalStore(const JournalStore&) = delete;
    JournalStore& operator=(const JournalStore&) = delete;

    // The first entry of a burst: the burst is written in one go, once it is over.
    void gather();

    void prune(int days);

    void limitSize(int megabytes);
    void namePorts(std::function<std::pair<QString, QString>(int)> names) { portNames_ = std::move(names); }

private:
    bool open();

    // Checks the file, sets it up and brings its schema up to date.
    bool prepare(QSqlError& error);

    // Nothing to do until the retention is known; the window sets it at start-up.
    bool pruneNow(QSqlError& error);

    // Past the limit the oldest entries go, enough to bring the file a tenth under it: the pages
    // they free take the next entries, so the file grows no further.
    bool trimToSize(QSqlError& error);

    // Links the entries an older version wrote, in the migration's transaction; said in the
    // journal, as a change made to them before now cannot be seen.
    bool chainExisting(QSqlError& error);
    // Where the next entry goes and the link it follows: after the last entry, or where the
    // chain's recorded start says when every entry was removed.
    bool loadChainEnd(QSqlError& error);
    // Removes the entries before `id`, recording the first kept one's predecessor, so that the
    // chain still checks from there.
    bool removeBefore(qint64 id, QSqlError& error, qint64* removed = nullptr);

    // A damaged file is renamed with the time, never deleted: it may still hold what someone needs.
    bool setAside();

public:
    // Writes out what waits; what could not be written is tried again every retryMs, so it
    // reaches the file (and the note goes) as soon as the file can be written, new entries or not.
    void drain();

private:
    void writeOut();
    // The local time's distance from UTC at `ms`.
    qint64 localOffsetMs(qint64 ms);

    // The database library has now set up what it keeps for the whole run.
    void met();

    void failed(const QSqlError& error);

    bool trouble(const QSqlError& error);
    // Tells the window the journal is not being kept, once, and when it is kept again; then the
    // journal itself says what happened, with the database library's own words.
    bool trouble(const QString& text, const QString& words = {});

    void close();

    QString fileName_;
    Journal& owner_;
    // The receiver of the store's own timers, gone with the store: a gathering or a retry still
    // pending when the journal ends never reaches a store that is no more.
    QObject* timers_;
    QString connection_;
    QSqlDatabase db_;
    std::deque<JournalEntry> pending_;
    std::size_t lost_ = 0;
    qint64 offsetQuarter_ = std::numeric_limits<qint64>::min();
    qint64 localOffsetMs_ = 0;
    qint64 nextId_ = 0;
    QByteArray lastLink_;
    int retentionDays_ = 0;
    qint64 maxBytes_ = 0; // 0 until the limit is set
    bool saidTrimmed_ = false;
    QString problem_;
    QString problemWords_; // the database library's, for the journal
    bool retrying_ = false;
    std::function<std::pair<QString, QString>(int)> portNames_;
};
