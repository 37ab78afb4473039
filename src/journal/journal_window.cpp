// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal_window.h"

#include "journal/journal.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <limits>
#include <vector>

namespace {

// Rows are read a page at a time, newest first, and kept; new entries are read alone and put on
// top. Nothing the window does scans the whole journal, however long it is.
constexpr int pageRows = 200;

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

} // namespace

class JournalModel final : public QAbstractTableModel {
public:
    explicit JournalModel(QObject* parent) : QAbstractTableModel(parent) {}

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : static_cast<int>(journalColumns().size()); }
    [[nodiscard]] QVariant data(const QModelIndex& item, int role) const override
    {
        if (!item.isValid() || item.row() >= rowCount()) return {};
        const JournalRow& row = rows_[static_cast<std::size_t>(item.row())];
        if (role == Qt::DisplayRole) return row.fields.value(item.column());
        // The failures stand out in the table.
        if (role == Qt::ForegroundRole && row.failure) return QColor(0xB0, 0x00, 0x00);
        return {};
    }
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) return {};
        return QString::fromUtf8(journalColumns()[static_cast<std::size_t>(section)].title);
    }
    [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override { return !parent.isValid() && !exhausted_ && db_.isOpen(); }
    void fetchMore(const QModelIndex& parent) override
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

    // Starts again from the newest entry under `filter`.
    void reset(QSqlDatabase db, JournalFilter filter)
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
    // Puts the entries written since the last look on top.
    void addNewer()
    {
        const qint64 seen = newest_;
        if (!db_.isOpen() || !lookAtNewest() || newest_ == seen) return;
        std::vector<JournalRow> newer = read(Span{seen, newest_ + 1}, -1);
        if (newer.empty()) return;
        beginInsertRows({}, 0, static_cast<int>(newer.size()) - 1);
        rows_.insert(rows_.begin(), std::make_move_iterator(newer.begin()), std::make_move_iterator(newer.end()));
        endInsertRows();
    }
    // Why the last read failed, in SQLite's words; cleared by the call.
    [[nodiscard]] QString takeProblem() { return std::exchange(problem_, {}); }

    void clear()
    {
        beginResetModel();
        rows_.clear();
        db_ = QSqlDatabase();
        exhausted_ = true;
        endResetModel();
    }

    // Every row the table would show were it scrolled to the end, newest first: the export.
    template <typename Each>
    [[nodiscard]] bool forEach(Each each)
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

private:
    // Ids above `above` (when set) and below `below`.
    struct Span {
        std::optional<qint64> above;
        qint64 below = 0;
    };

    // The newest id, and for a day the ids it spans, found by seeks of the indexes: a day's rows
    // are then read in the id's order, with no sort.
    bool lookAtNewest()
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

    bool prepare(QSqlQuery& query, const Span& span, int limit)
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

    [[nodiscard]] static JournalRow rowFrom(const QSqlQuery& query)
    {
        JournalRow row;
        row.id = query.value(0).toLongLong();
        const int columns = static_cast<int>(journalColumns().size());
        row.fields.reserve(columns);
        for (int i = 1; i <= columns; ++i) row.fields << query.value(i).toString();
        row.failure = query.value(columns + 1).toInt() != 0;
        return row;
    }

    std::vector<JournalRow> read(const Span& span, int limit)
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

    QSqlDatabase db_;
    JournalFilter filter_;
    std::vector<JournalRow> rows_;
    std::pair<qint64, qint64> dayIds_{1, 0};
    qint64 newest_ = 0; // the newest id looked at
    bool exhausted_ = true;
    QString problem_;
};

JournalWindow::JournalWindow(Journal& journal, QWidget* parent) : QDialog(parent), journal_(journal)
{
    static std::atomic<int> serial{0};
    connection_ = QStringLiteral("painel-registo-leitura-%1").arg(++serial);
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Registo"));
    auto* layout = new QVBoxLayout(this);

    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("journalProblem"));
    problem->setWordWrap(true);
    problem->setTextFormat(Qt::PlainText);
    problem->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(problem);

    auto* filters = new QHBoxLayout;
    day = new QComboBox(this);
    day->setObjectName(QStringLiteral("day"));
    day->setAccessibleName(QStringLiteral("Dia"));
    auto* dayLabel = new QLabel(QStringLiteral("&Dia:"), this);
    dayLabel->setBuddy(day);
    onlyFailures = new QCheckBox(QStringLiteral("Só &falhas"), this);
    onlyFailures->setObjectName(QStringLiteral("onlyFailures"));
    exportButton = new QPushButton(QStringLiteral("&Exportar CSV…"), this);
    exportButton->setObjectName(QStringLiteral("exportCsv"));
    exportButton->setAutoDefault(false);
    filters->addWidget(dayLabel);
    filters->addWidget(day);
    filters->addWidget(onlyFailures);
    filters->addStretch();
    filters->addWidget(exportButton);
    layout->addLayout(filters);

    model_ = new JournalModel(this);
    entries = new QTableView(this);
    entries->setObjectName(QStringLiteral("entries"));
    entries->setAccessibleName(QStringLiteral("Entradas do registo, mais recentes primeiro"));
    entries->setModel(model_);
    entries->setSelectionBehavior(QAbstractItemView::SelectRows);
    entries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    entries->setWordWrap(false);
    entries->verticalHeader()->hide();
    entries->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(entries, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(day, &QComboBox::currentIndexChanged, this, &JournalWindow::showEntries);
    connect(onlyFailures, &QCheckBox::toggled, this, &JournalWindow::showEntries);
    connect(exportButton, &QPushButton::clicked, this, &JournalWindow::chooseExportFile);
    connect(&journal_, &Journal::written, this, &JournalWindow::addNewer);
    connect(&journal_, &Journal::problemChanged, this, &JournalWindow::showProblem);
    refresh();
    // Wide enough for every column, the reasons included, as far as the screen allows.
    int width =
        2 * entries->frameWidth() + entries->verticalScrollBar()->sizeHint().width() + layout->contentsMargins().left() + layout->contentsMargins().right();
    for (int column = 0; column < static_cast<int>(journalColumns().size()); ++column) width += entries->columnWidth(column);
    const int available = screen() != nullptr ? screen()->availableGeometry().width() * 9 / 10 : width;
    resize(std::clamp(width, 800, std::max(800, available)), 450);
}

JournalWindow::~JournalWindow()
{
    model_->clear();
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool JournalWindow::openReader()
{
    QSqlDatabase db =
        QSqlDatabase::contains(connection_) ? QSqlDatabase::database(connection_, false) : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (db.isOpen()) return true;
    if (!QFileInfo::exists(journal_.fileName())) {
        readProblem_ = QStringLiteral("Ainda não há entradas no registo.");
        return false;
    }
    db.setDatabaseName(journal_.fileName());
    // Never waits: a journal locked by another process is reported, not waited for.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
    if (db.open()) return true;
    cannotRead(sqliteCause(db.lastError(), journal_.fileName()));
    return false;
}

// The local day of the newest entry before `below` (ms since the epoch): one seek of the time's index.
std::optional<QDate> JournalWindow::newestDayBefore(qint64 below)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("SELECT max(utc_ms) FROM registo WHERE utc_ms < ?"));
    query.addBindValue(below);
    if (query.exec() && query.next() && !query.isNull(0)) return QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong()).date();
    if (query.lastError().isValid()) cannotRead(sqliteCause(query.lastError(), journal_.fileName()));
    return std::nullopt;
}

// The days that have entries, newest first.
QList<QDate> JournalWindow::readDays()
{
    QList<QDate> days;
    qint64 below = std::numeric_limits<qint64>::max();
    // Bounded by the longest retention, and a clock that was once far ahead.
    while (days.size() <= 2 * Journal::maxRetentionDays) {
        const std::optional<QDate> newest = newestDayBefore(below);
        if (!newest) break;
        days << *newest;
        below = newest->startOfDay().toMSecsSinceEpoch();
    }
    return days;
}

void JournalWindow::cannotRead(const QString& cause) { readProblem_ = QStringLiteral("O registo não se pode ler: %1").arg(cause); }

void JournalWindow::refresh()
{
    readProblem_.clear();
    if (!openReader()) {
        model_->clear();
        showProblem();
        return;
    }
    // The day chosen stays chosen.
    const QDate chosen = day->currentData().toDate();
    {
        const QSignalBlocker quiet(day);
        day->clear();
        day->addItem(QStringLiteral("Todos os dias"), QDate());
        for (const QDate& d : readDays()) day->addItem(d.toString(QStringLiteral("dd-MM-yyyy")), d);
        day->setCurrentIndex(std::max(0, day->findData(chosen)));
    }
    showEntries();
}

void JournalWindow::showEntries()
{
    model_->reset(QSqlDatabase::database(connection_, false), JournalFilter{day->currentData().toDate(), onlyFailures->isChecked()});
    // Sized to the first page once: sizing again with every entry would cost the window more
    // than the entry itself.
    entries->resizeColumnsToContents();
    showProblem();
    showReadProblem();
}

void JournalWindow::addNewer()
{
    // Closed, it is filled afresh when opened again; open on a journal it could not read, it tries again.
    if (!isVisible()) return;
    if (!QSqlDatabase::contains(connection_) || !QSqlDatabase::database(connection_, false).isOpen()) return refresh();
    model_->addNewer();
    // A new day begun since the window was filled; looked for only once the clock says so.
    if (day->count() > 1 && day->itemData(1).toDate() >= QDate::currentDate()) return showReadProblem();
    if (const auto newest = newestDayBefore(std::numeric_limits<qint64>::max()); newest && (day->count() < 2 || day->itemData(1).toDate() < *newest)) {
        const QSignalBlocker quiet(day);
        day->insertItem(1, newest->toString(QStringLiteral("dd-MM-yyyy")), *newest);
    }
    showReadProblem();
}

void JournalWindow::showReadProblem()
{
    if (const QString failure = model_->takeProblem(); !failure.isEmpty()) {
        cannotRead(failure);
        showProblem();
    }
}

void JournalWindow::showProblem()
{
    QStringList lines;
    if (!journal_.problem().isEmpty()) lines << journal_.problem();
    if (!readProblem_.isEmpty()) lines << readProblem_;
    problem->setText(lines.join(QLatin1Char('\n')));
    problem->setAccessibleDescription(problem->text());
    problem->setVisible(!lines.isEmpty());
}

std::optional<QString> JournalWindow::exportCsv(const QString& fileName)
{
    QStringList header;
    for (const JournalColumn& c : journalColumns()) header << QString::fromUtf8(c.title);
    QByteArray csv = csvRecord(header);
    if (!model_->forEach([&](const QStringList& fields) { csv += csvRecord(fields); }))
        return QStringLiteral("o registo não se pode ler: %1").arg(model_->takeProblem());
    // Written whole or not at all: a failed export never leaves half a file under the name chosen.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
    return std::nullopt;
}

void JournalWindow::chooseExportFile()
{
    const QDate chosen = day->currentData().toDate();
    const QString suggested = QDir::homePath() + QStringLiteral("/registo-%1.csv").arg((chosen.isNull() ? QDate::currentDate() : chosen).toString(Qt::ISODate));
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar CSV"), suggested, QStringLiteral("CSV (*.csv)"));
    if (fileName.isEmpty()) return;
    if (const auto failure = exportCsv(fileName))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível exportar o registo.\n\n%1").arg(*failure));
}
