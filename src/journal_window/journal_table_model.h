// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal_vocabulary.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QSqlDatabase>
#include <QStringList>

class QSqlQuery;

#include <functional>
#include <optional>
#include <utility>
#include <vector>

struct JournalRow {
    qint64 id = 0;
    QStringList fields;
    bool failure = false;
};

// What the window shows: every entry, or one local day's, and all of them or only failures.
struct JournalFilter {
    QDate day; // null: every day
    bool onlyFailures = false;
};

// The journal's table as the window shows it: the entries newest first, under the filters chosen,
// read a page at a time through the window's own connection.
class JournalTableModel final : public QAbstractTableModel {
public:
    explicit JournalTableModel(QObject* parent);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const;
    [[nodiscard]] QVariant data(const QModelIndex& item, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const;
    void fetchMore(const QModelIndex& parent) override;

    // Starts again from the newest entry under `filter`.
    void reset(QSqlDatabase db, JournalFilter filter);
    // Puts the entries written since the last look on top.
    void addNewer();
    // Why the last read failed, in SQLite's words; cleared by the call.
    [[nodiscard]] QString takeProblem();

    void clear();

    // Every row the table would show were it scrolled to the end, newest first: the export.
    [[nodiscard]] bool forEach(const std::function<void(const QStringList&)>& each);

private:
    // Ids above `above` (when set) and below `below`.
    struct Span {
        std::optional<qint64> above;
        qint64 below = 0;
    };

    // The newest id, and for a day the ids it spans, found by seeks of the indexes: a day's rows
    // are then read in the id's order, with no sort.
    bool lookAtNewest();

    bool prepare(QSqlQuery& query, const Span& span, int limit);

    [[nodiscard]] static JournalRow rowFrom(const QSqlQuery& query);

    std::vector<JournalRow> read(const Span& span, int limit);

    QSqlDatabase db_;
    JournalFilter filter_;
    std::vector<JournalRow> rows_;
    std::pair<qint64, qint64> dayIds_{1, 0};
    qint64 newest_ = 0; // the newest id looked at
    bool exhausted_ = true;
    QString problem_;
};
