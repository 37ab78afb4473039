#include "prefs/journal_window.h"

#include "prefs/journal.h"

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
#include <QScreen>
#include <QScrollBar>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

namespace {

// The failures stand out in the table; the flag itself is read from a column kept out of view.
class JournalModel final : public QSqlQueryModel {
public:
    using QSqlQueryModel::QSqlQueryModel;

    [[nodiscard]] QVariant data(const QModelIndex& item, int role) const override
    {
        if (role == Qt::ForegroundRole && QSqlQueryModel::data(index(item.row(), failureColumn()), Qt::DisplayRole).toInt() != 0)
            return QColor(0xB0, 0x00, 0x00);
        return QSqlQueryModel::data(item, role);
    }
    [[nodiscard]] static int failureColumn() { return static_cast<int>(journalColumns().size()); }
};

} // namespace

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

    connect(day, &QComboBox::currentIndexChanged, this, &JournalWindow::refresh);
    connect(onlyFailures, &QCheckBox::toggled, this, &JournalWindow::refresh);
    connect(exportButton, &QPushButton::clicked, this, &JournalWindow::chooseExportFile);
    connect(&journal_, &Journal::written, this, [this] {
        if (isVisible()) refresh();
    });
    connect(&journal_, &Journal::problemChanged, this, &JournalWindow::showProblem);
    refresh();
    // Wide enough for every column, the reasons included, as far as the screen allows.
    int width = 2 * entries->frameWidth() + entries->verticalScrollBar()->sizeHint().width() + layout->contentsMargins().left()
                + layout->contentsMargins().right();
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
    QSqlDatabase db = QSqlDatabase::contains(connection_) ? QSqlDatabase::database(connection_, false)
                                                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (db.isOpen()) return true;
    if (!QFileInfo::exists(journal_.fileName())) {
        readProblem_ = QStringLiteral("Ainda não há entradas no registo.");
        return false;
    }
    db.setDatabaseName(journal_.fileName());
    // Never waits: a journal locked by another process is reported, not waited for.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
    if (db.open()) return true;
    readProblem_ = QStringLiteral("O registo não se pode ler: %1").arg(db.lastError().text());
    return false;
}

void JournalWindow::refresh()
{
    readProblem_.clear();
    if (!openReader()) {
        model_->clear();
        showProblem();
        return;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);

    // The days that have entries, newest first; the one chosen stays chosen.
    const QString chosen = day->currentData().toString();
    QStringList days;
    QSqlQuery dayQuery(QStringLiteral("SELECT DISTINCT substr(hora_local, 1, 10) FROM registo ORDER BY 1 DESC"), db);
    while (dayQuery.next()) days << dayQuery.value(0).toString();
    if (dayQuery.lastError().isValid()) readProblem_ = QStringLiteral("O registo não se pode ler: %1").arg(dayQuery.lastError().text());
    {
        const QSignalBlocker quiet(day);
        day->clear();
        day->addItem(QStringLiteral("Todos os dias"), QString());
        for (const QString& d : days) day->addItem(QDate::fromString(d, Qt::ISODate).toString(QStringLiteral("dd-MM-yyyy")), d);
        day->setCurrentIndex(std::max(0, day->findData(chosen)));
    }

    QStringList columns;
    for (const JournalColumn& c : journalColumns()) columns << QString::fromLatin1(c.name);
    QStringList where;
    const QString dayChosen = day->currentData().toString();
    // The local day as a range of the indexed time, so that the index serves.
    if (!dayChosen.isEmpty()) where << QStringLiteral("utc_ms >= :from AND utc_ms < :to");
    if (onlyFailures->isChecked()) where << QStringLiteral("falha = 1");
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT %1, falha FROM registo %2 ORDER BY id DESC")
                      .arg(columns.join(QStringLiteral(", ")), where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where.join(QStringLiteral(" AND "))));
    if (!dayChosen.isEmpty()) {
        const QDate d = QDate::fromString(dayChosen, Qt::ISODate);
        query.bindValue(QStringLiteral(":from"), d.startOfDay().toMSecsSinceEpoch());
        query.bindValue(QStringLiteral(":to"), d.addDays(1).startOfDay().toMSecsSinceEpoch());
    }
    if (!query.exec()) readProblem_ = QStringLiteral("O registo não se pode ler: %1").arg(query.lastError().text());
    model_->setQuery(std::move(query));
    for (std::size_t i = 0; i < journalColumns().size(); ++i)
        model_->setHeaderData(static_cast<int>(i), Qt::Horizontal, QString::fromUtf8(journalColumns()[i].title));
    entries->setColumnHidden(JournalModel::failureColumn(), true);
    entries->resizeColumnsToContents();
    showProblem();
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
    while (model_->canFetchMore()) model_->fetchMore();
    QStringList header;
    for (const JournalColumn& c : journalColumns()) header << QString::fromUtf8(c.title);
    QByteArray csv = csvRecord(header);
    for (int row = 0; row < model_->rowCount(); ++row) {
        QStringList fields;
        for (int column = 0; column < static_cast<int>(journalColumns().size()); ++column)
            fields << model_->data(model_->index(row, column), Qt::DisplayRole).toString();
        csv += csvRecord(fields);
    }
    // Written whole or not at all: a failed export never leaves half a file under the name chosen.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
    return std::nullopt;
}

void JournalWindow::chooseExportFile()
{
    const QString suggested = QDir::homePath() + QStringLiteral("/registo-%1.csv").arg(day->currentData().toString().isEmpty()
                                                                                           ? QDate::currentDate().toString(Qt::ISODate)
                                                                                           : day->currentData().toString());
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar CSV"), suggested, QStringLiteral("CSV (*.csv)"));
    if (fileName.isEmpty()) return;
    if (const auto failure = exportCsv(fileName))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível exportar o registo.\n\n%1").arg(*failure));
}
