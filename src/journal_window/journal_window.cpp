// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal_window/journal_window.h"

#include "journal/journal.h"
#include "journal/journal_csv.h"
#include "journal/journal_store.h"
#include "journal_window/chain_line.h"
#include "journal_window/journal_table_model.h"

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
    chain = new ChainLine(this);
    chain->setObjectName(QStringLiteral("journalChain"));
    layout->addWidget(chain);

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

    model_ = new JournalTableModel(this);
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
    connect(&journal_, &Journal::written, chain, &ChainLine::checkNew);
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
    // The file may have been changed while the window was closed: the whole chain again.
    chain->checkAll(journal_.fileName());
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
