// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

// Each entry carries a link: the SHA-256 of the link before it and of the entry's own columns.
// An entry changed, put in or taken out of the file afterwards breaks the chain from there on;
// the first kept entry's predecessor is recorded when the oldest entries are removed, so
// retention leaves a chain that still checks.

// The schema's version from which entries are chained.
inline constexpr int chainedSchemaVersion = 4;
// And from which an entry may name its post.
inline constexpr int postSchemaVersion = 5;

// The columns a link covers, in this order (the entry's number first, the post last).
[[nodiscard]] const QStringList& chainedColumns();
// An entry's link, in hex, from the link before it and its columns' text (no value and an empty
// one are the same). The post, which came later, counts only when there is one: the entries
// written before it link as they did.
[[nodiscard]] QByteArray chainLink(const QByteArray& previous, const QStringList& values);

struct ChainReport {
    qint64 entries = 0; // checked and whole, before the break if there is one
    qint64 firstId = 0;
    qint64 lastId = 0;
    QByteArray lastLink; // the last whole entry's, to be written down elsewhere
    std::optional<qint64> brokenAt;
    QString breakText;
    QString breakTime;
    QString problem; // why the file could not be checked at all
};

// Reads the file without changing it, whether or not a program is writing it; gives up, said as
// the problem, once `stop` is set. With `after`, a whole chain checked before, only the entries
// written since are checked, on from its last link.
[[nodiscard]] ChainReport checkJournalChain(const QString& fileName, const std::atomic<bool>* stop = nullptr, const ChainReport* after = nullptr);

// The command line's check: the report in words on the standard output (a problem on the
// standard error); 0 when the chain holds, 1 when it breaks, 2 when the file cannot be checked.
[[nodiscard]] int verifyJournal(const QString& fileName);
