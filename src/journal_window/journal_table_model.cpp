// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal_window/journal_table_model.h"

#include "journal/journal_store.h"

#include <QColor>
#include <QSqlError>
#include <QSqlQuery>

namespace {
// Rows are read a page at a time, newest first, and kept; new entries are read alone and put on
// top. Nothing the window does scans the whole journal, however long it is.
constexpr int pageRows = 200;
} // namespace

JournalTableModel::JournalTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int JournalTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }

int JournalTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(journalColumns().size()); }

QVariant JournalTableModel::data(const QModelIndex& item, int role) const
{
    if (!item.isValid() || item.row() >= rowCount()) return {};
    const JournalRow& row = rows_[static_cast<std::size_t>(item.row())];
    if (role == Qt::DisplayRole) return row.fields.value(item.column());
    // The failures stand out in the table.
    if (role == Qt::ForegroundRole && row.failure) return QColor(0xB0, 0x00, 0x00);
    return {};
}

QVariant JournalTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) return {};
    return QString::fromUtf8(journalColumns()[static_cast<std::size_t>(section)].title);
}

bool JournalTableModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !exhausted_ && db_.isOpen(); }

void JournalTableModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent)) return;
    const qint64 below = rows_.empty() ? newest_ + 1 : rows_.back().id;
    std::vector<JournalRow> older = read(Span{std::nullopt, below}, pageRows);
    exhausted_ = exhausted_ || static_cast<int>(older.size()) < pageRows;
    if (older.empty()) return;
    beginInsertRows({}, rowCount(), rowCount() + static_cast<int>(older.size()) - 1);
    std::move(older.begin(), older.end(), std::back_inserter(rows_));
    endInsertRows();
}

void JournalTableModel::reset(QSqlDatabase db, JournalFilter filter)
{
    beginResetModel();
    db_ = std::move(db);
    filter_ = filter;
    rows_.clear();
    exhausted_ = false;
    newest_ = 0;
    endResetModel();
    if (!lookAtNewest()) return;
    fetchMore({});
}

void JournalTableModel::addNewer()
{
    const qint64 seen = newest_;
    if (!db_.isOpen() || !lookAtNewest() || newest_ == seen) return;
    std::vector<JournalRow> newer = read(Span{seen, newest_ + 1}, -1);
    if (newer.empty()) return;
    beginInsertRows({}, 0, static_cast<int>(newer.size()) - 1);
    rows_.insert(rows_.begin(), std::make_move_iterator(newer.begin()), std::make_move_iterator(newer.end()));
    endInsertRows();
}

QString JournalTableModel::takeProblem() { return std::exchange(problem_, {}); }

void JournalTableModel::clear()
{
    beginResetModel();
    rows_.clear();
    db_ = QSqlDatabase();
    exhausted_ = true;
    endResetModel();
}

bool JournalTableModel::forEach(const std::function<void(const QStringList&)>& each)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!prepare(query, Span{std::nullopt, newest_ + 1}, -1) || !query.exec()) {
        problem_ = sqliteCause(query.lastError(), db_.databaseName());
        return false;
    }
    while (query.next()) each(rowFrom(query).fields);
    return true;
}

bool JournalTableModel::lookAtNewest()
{
    QSqlQuery newest(QStringLiteral("SELECT max(id) FROM registo"), db_);
    if (!newest.next()) {
        problem_ = sqliteCause(newest.lastError(), db_.databaseName());
        exhausted_ = true;
        return false;
    }
    newest_ = newest.value(0).toLongLong();
    if (filter_.day.isNull()) return true;
    const auto seek = [&](const char* sql, const QDate& day) {
        QSqlQuery query(db_);
        query.prepare(QString::fromLatin1(sql));
        query.addBindValue(day.startOfDay().toMSecsSinceEpoch());
        return query.exec() && query.next() && !query.isNull(0) ? std::optional(query.value(0).toLongLong()) : std::nullopt;
    };
    const auto first = seek("SELECT id FROM registo WHERE utc_ms >= ? ORDER BY utc_ms, id LIMIT 1", filter_.day);
    const auto last = seek("SELECT id FROM registo WHERE utc_ms < ? ORDER BY utc_ms DESC, id DESC LIMIT 1", filter_.day.addDays(1));
    dayIds_ = first && last ? std::pair{*first, *last} : std::pair<qint64, qint64>{1, 0};
    return true;
}

bool JournalTableModel::prepare(QSqlQuery& query, const Span& span, int limit)
{
    QStringList columns;
    for (const JournalColumn& c : journalColumns()) columns << QString::fromLatin1(c.name);
    QStringList where{QStringLiteral("id < :below")};
    if (span.above) where << QStringLiteral("id > :above");
    // The time itself too: a clock set back can put another day's entries among the ids.
    if (!filter_.day.isNull()) where << QStringLiteral("id BETWEEN :first AND :last AND utc_ms >= :from AND utc_ms < :to");
    if (filter_.onlyFailures) where << QStringLiteral("falha = 1");
    const bool prepared = query.prepare(
        QStringLiteral("SELECT id, %1, falha FROM registo WHERE %2 ORDER BY id DESC%3")
            .arg(columns.join(QStringLiteral(", ")), where.join(QStringLiteral(" AND ")), limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()));
    query.bindValue(QStringLiteral(":below"), span.below);
    if (span.above) query.bindValue(QStringLiteral(":above"), *span.above);
    if (!filter_.day.isNull()) {
        query.bindValue(QStringLiteral(":first"), dayIds_.first);
        query.bindValue(QStringLiteral(":last"), dayIds_.second);
        query.bindValue(QStringLiteral(":from"), filter_.day.startOfDay().toMSecsSinceEpoch());
        query.bindValue(QStringLiteral(":to"), filter_.day.addDays(1).startOfDay().toMSecsSinceEpoch());
    }
    return prepared;
}

JournalRow JournalTableModel::rowFrom(const QSqlQuery& query)
{
    JournalRow row;
    row.id = query.value(0).toLongLong();
    const int columns = static_cast<int>(journalColumns().size());
    row.fields.reserve(columns);
    for (int i = 1; i <= columns; ++i) row.fields << query.value(i).toString();
    row.failure = query.value(columns + 1).toInt() != 0;
    return row;
}

std::vector<JournalRow> JournalTableModel::read(const Span& span, int limit)
{
    std::vector<JournalRow> rows;
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!prepare(query, span, limit) || !query.exec()) {
        problem_ = sqliteCause(query.lastError(), db_.databaseName());
        exhausted_ = true;
        return rows;
    }
    while (query.next()) rows.push_back(rowFrom(query));
    return rows;
}
