// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline_window/timeline_window.h"

#include "journal/journal.h"
#include "journal_window/chain_line.h"
#include "timeline/timeline_model.h"
#include "timeline_window/timeline_view.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

namespace {

constexpr qint64 hourMs = 3600 * 1000;
// The ranges offered, back from now; the last, the whole journal.
struct Preset {
    const char* name;
    qint64 lengthMs; // 0: from the first entry to the last
};
constexpr std::array<Preset, 4> presets{{{"Última hora", hourMs}, {"Últimas 6 horas", 6 * hourMs}, {"Últimas 24 horas", 24 * hourMs}, {"Todo o registo", 0}}};
// A bar's entries shown at most.
constexpr int entriesShown = 500;

QDateTime local(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms); }

} // namespace

TimelineWindow::TimelineWindow(Journal& journal, QString place, QWidget* parent) : QDialog(parent), journal_(journal), place_(std::move(place))
{
    setObjectName(QStringLiteral("TimelineWindow"));
    setWindowTitle(QStringLiteral("Linha do tempo"));
    auto* layout = new QVBoxLayout(this);

    problem = new QLabel(this);
    problem->setObjectName(QStringLiteral("timelineProblem"));
    problem->setWordWrap(true);
    problem->setTextFormat(Qt::PlainText);
    problem->setStyleSheet(QStringLiteral("color: #b00000"));
    problem->hide();
    layout->addWidget(problem);
    chain = new ChainLine(this);
    chain->setObjectName(QStringLiteral("timelineChain"));
    layout->addWidget(chain);

    auto* controls = new QHBoxLayout;
    range = new QComboBox(this);
    range->setObjectName(QStringLiteral("range"));
    range->setAccessibleName(QStringLiteral("Período"));
    for (const Preset& preset : presets) range->addItem(QString::fromUtf8(preset.name));
    range->addItem(QStringLiteral("Escolhido"));
    auto* rangeLabel = new QLabel(QStringLiteral("&Período:"), this);
    rangeLabel->setBuddy(range);
    const auto timeEdit = [&](const char* name, const char* accessible) {
        auto* edit = new QDateTimeEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setAccessibleName(QString::fromUtf8(accessible));
        edit->setDisplayFormat(QStringLiteral("dd-MM-yyyy HH:mm:ss"));
        edit->setCalendarPopup(true);
        return edit;
    };
    from = timeEdit("from", "Desde");
    to = timeEdit("to", "Até");
    now = new QPushButton(QStringLiteral("&Agora"), this);
    now->setObjectName(QStringLiteral("now"));
    now->setCheckable(true);
    now->setToolTip(QStringLiteral("Seguir o que acontece agora"));
    auto* zoomIn = new QPushButton(QStringLiteral("+"), this);
    zoomIn->setObjectName(QStringLiteral("zoomIn"));
    zoomIn->setAccessibleName(QStringLiteral("Aproximar"));
    auto* zoomOut = new QPushButton(QStringLiteral("−"), this);
    zoomOut->setObjectName(QStringLiteral("zoomOut"));
    zoomOut->setAccessibleName(QStringLiteral("Afastar"));
    for (QPushButton* b : {zoomIn, zoomOut}) b->setMaximumWidth(32);
    clock = new QComboBox(this);
    clock->setObjectName(QStringLiteral("clock"));
    clock->setAccessibleName(QStringLiteral("Relógio"));
    clock->addItem(QStringLiteral("Relógio da central"));
    clock->addItem(QStringLiteral("Relógio de cada posto"));
    clock->setToolTip(QStringLiteral("Os postos na hora da central (acertados pelo desvio do relógio de cada um), ou na hora que cada posto deu"));
    exportPdfButton = new QPushButton(QStringLiteral("Exportar &PDF…"), this);
    exportPdfButton->setObjectName(QStringLiteral("exportPdf"));
    exportCsvButton = new QPushButton(QStringLiteral("Exportar &CSV…"), this);
    exportCsvButton->setObjectName(QStringLiteral("exportCsv"));
    openButton = new QPushButton(QStringLiteral("A&brir registo…"), this);
    openButton->setObjectName(QStringLiteral("openJournal"));
    for (QPushButton* b : {now, zoomIn, zoomOut, exportPdfButton, exportCsvButton, openButton}) b->setAutoDefault(false);
    controls->addWidget(rangeLabel);
    controls->addWidget(range);
    controls->addWidget(from);
    controls->addWidget(new QLabel(QStringLiteral("a"), this));
    controls->addWidget(to);
    controls->addWidget(now);
    controls->addWidget(zoomIn);
    controls->addWidget(zoomOut);
    controls->addWidget(clock);
    controls->addStretch();
    controls->addWidget(openButton);
    controls->addWidget(exportPdfButton);
    controls->addWidget(exportCsvButton);
    layout->addLayout(controls);

    model_ = new TimelineModel(this);
    timeline = new TimelineView(*model_, this);
    timeline->setObjectName(QStringLiteral("timeline"));
    layout->addWidget(timeline, 3);

    entriesTitle = new QLabel(QStringLiteral("Clique numa barra para ver as suas entradas do registo."), this);
    entriesTitle->setObjectName(QStringLiteral("entriesTitle"));
    layout->addWidget(entriesTitle);
    entries = new QTableWidget(this);
    entries->setObjectName(QStringLiteral("entries"));
    entries->setAccessibleName(QStringLiteral("Entradas do registo da barra escolhida"));
    entries->setEditTriggers(QAbstractItemView::NoEditTriggers);
    entries->setSelectionBehavior(QAbstractItemView::SelectRows);
    entries->verticalHeader()->hide();
    entries->setColumnCount(int(TimelineReader::columnTitles().size()));
    entries->setHorizontalHeaderLabels(TimelineReader::columnTitles());
    entries->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(entries, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(range, &QComboBox::activated, this, &TimelineWindow::choosePreset);
    connect(from, &QDateTimeEdit::editingFinished, this, &TimelineWindow::rangeEdited);
    connect(to, &QDateTimeEdit::editingFinished, this, &TimelineWindow::rangeEdited);
    connect(now, &QPushButton::toggled, this, &TimelineWindow::follow);
    connect(zoomIn, &QPushButton::clicked, this, [this] { timeline->zoom(1.5); });
    connect(zoomOut, &QPushButton::clicked, this, [this] { timeline->zoom(1 / 1.5); });
    connect(clock, &QComboBox::currentIndexChanged, this, [this](int index) { timeline->setClock(index == 0 ? TimelineClock::Central : TimelineClock::Post); });
    connect(exportPdfButton, &QPushButton::clicked, this, [this] { chooseExport(QStringLiteral("PDF"), &TimelineWindow::exportPdf); });
    connect(exportCsvButton, &QPushButton::clicked, this, [this] { chooseExport(QStringLiteral("CSV"), &TimelineWindow::exportCsv); });
    connect(openButton, &QPushButton::clicked, this, &TimelineWindow::chooseFile);
    connect(model_, &TimelineModel::problemChanged, this, &TimelineWindow::showProblem);
    connect(model_, &TimelineModel::opened, this, [this] { clock->setVisible(model_->isCentral()); });
    connect(timeline, &TimelineView::moved, this, [this] {
        // Looking back stops following now; zooming about now does not.
        const auto [shownFrom, shownTo] = timeline->visibleTimes();
        if (now->isChecked() && shownTo < timeline->range().second) now->setChecked(false);
    });
    connect(timeline, &TimelineView::picked, this, [this](const QString& post, qint64 fromMs, qint64 toMs, const QString& what) {
        if (!reader_) return;
        const QString lane = nameOf_(post);
        showEntries(reader_->entries(post, fromMs, toMs, entriesShown),
                    QStringLiteral("%1: %2, de %3 a %4")
                        .arg(lane, what, local(fromMs).toString(QStringLiteral("HH:mm:ss.zzz")), local(toMs).toString(QStringLiteral("HH:mm:ss.zzz"))));
    });
    connect(timeline, &TimelineView::requestPicked, this, [this](const TimelineRequest& request) {
        if (!reader_) return;
        showEntries(reader_->requestEntries(request, entriesShown),
                    QStringLiteral("Pedido %1 (%2), às %3").arg(request.id, request.sign, local(request.ms).toString(QStringLiteral("HH:mm:ss.zzz"))));
    });
    connect(&journal_, &Journal::written, this, [this] { written_ = true; });
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &TimelineWindow::tick);
    ticker_.start();

    nameLanes({});
    resize(1100, 700);
    openFile(journal_.fileName());
}

TimelineWindow::~TimelineWindow() = default;

void TimelineWindow::nameLanes(std::function<QString(const QString&)> nameOf)
{
    // A post's own journal has the one lane, its panel's.
    nameOf_ = [nameOf = std::move(nameOf)](const QString& post) { return post.isEmpty() ? QStringLiteral("Este painel") : nameOf ? nameOf(post) : post; };
    timeline->nameLanes(nameOf_);
}

void TimelineWindow::openFile(const QString& fileName)
{
    const bool live = fileName == journal_.fileName();
    reader_ = std::make_unique<TimelineReader>(fileName);
    reader_->setLive(live);
    if (!reader_->open()) {
        problem->setText(QStringLiteral("O registo não se pode mostrar: %1").arg(reader_->problem()));
        problem->show();
        reader_.reset();
    }
    model_->open(fileName, live);
    chain->checkAll(fileName);
    entries->setRowCount(0);
    setWindowTitle(live ? QStringLiteral("Linha do tempo") : QStringLiteral("Linha do tempo — %1 (só leitura)").arg(QDir::toNativeSeparators(fileName)));
    range->setCurrentIndex(0);
    choosePreset();
}

void TimelineWindow::setRange(qint64 fromMs, qint64 toMs)
{
    now->setChecked(false);
    const QSignalBlocker quietFrom(from);
    const QSignalBlocker quietTo(to);
    from->setDateTime(local(fromMs));
    to->setDateTime(local(toMs));
    timeline->setRange(fromMs, toMs);
    timeline->showTimes(fromMs, toMs);
}

void TimelineWindow::choosePreset()
{
    const int index = range->currentIndex();
    if (index < 0 || index >= int(presets.size())) return;
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    if (presets[std::size_t(index)].lengthMs > 0) {
        setRange(end - presets[std::size_t(index)].lengthMs, end);
        now->setChecked(true);
        return;
    }
    // The whole journal: its extent, known once the model has opened it.
    const auto whole = [this] {
        const auto extent = model_->extent();
        const qint64 last = QDateTime::currentMSecsSinceEpoch();
        setRange(extent ? extent->first : last - hourMs, std::max(last, extent ? extent->second + 1 : last));
    };
    if (model_->idle()) whole();
    else connect(model_, &TimelineModel::opened, this, whole, Qt::SingleShotConnection);
    now->setChecked(false);
}

void TimelineWindow::rangeEdited()
{
    const qint64 fromMs = from->dateTime().toMSecsSinceEpoch();
    const qint64 toMs = to->dateTime().toMSecsSinceEpoch();
    if (toMs <= fromMs) {
        // Left as it was, and said: an empty range shows nothing.
        problem->setText(QStringLiteral("O período escolhido acaba antes de começar: escolha um «até» depois do «desde»."));
        problem->show();
        return;
    }
    showProblem();
    range->setCurrentIndex(range->count() - 1);
    now->setChecked(false);
    setRange(fromMs, toMs);
}

void TimelineWindow::follow(bool on)
{
    if (on) tick();
}

void TimelineWindow::tick()
{
    if (!isVisible()) return;
    // New entries are read at most once a second, however often they are written, and never
    // before the last reading is done: a day's lanes can take longer than a second.
    if (written_ && model_->idle() && model_->fileName() == journal_.fileName()) {
        written_ = false;
        model_->reload();
        chain->checkNew();
    }
    if (!now->isChecked()) return;
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const auto [rangeFrom, rangeTo] = timeline->range();
    const auto [shownFrom, shownTo] = timeline->visibleTimes();
    const qint64 moved = end - rangeTo;
    {
        const QSignalBlocker quietFrom(from);
        const QSignalBlocker quietTo(to);
        from->setDateTime(local(rangeFrom + moved));
        to->setDateTime(local(end));
    }
    timeline->setRange(rangeFrom + moved, end);
    timeline->showTimes(shownFrom + moved, shownTo + moved);
}

void TimelineWindow::showEntries(const std::vector<QStringList>& rows, const QString& title)
{
    entriesTitle->setText(
        rows.size() >= std::size_t(entriesShown)
            ? QStringLiteral("%1 — as primeiras %2 entradas").arg(title).arg(entriesShown)
            : QStringLiteral("%1 — %2 %3").arg(title).arg(rows.size()).arg(rows.size() == 1 ? QStringLiteral("entrada") : QStringLiteral("entradas")));
    entries->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < rows[std::size_t(r)].size(); ++c) entries->setItem(r, c, new QTableWidgetItem(rows[std::size_t(r)].at(c)));
    entries->resizeColumnsToContents();
    if (reader_ && !reader_->problem().isEmpty()) showProblem();
}

void TimelineWindow::showProblem()
{
    const QString text = model_->problem();
    problem->setText(text.isEmpty() ? QString() : QStringLiteral("Só leitura: %1.").arg(text));
    problem->setVisible(!text.isEmpty());
}

TimelineReportHeader TimelineWindow::reportHeader() const
{
    TimelineReportHeader header;
    header.place = place_;
    std::tie(header.fromMs, header.toMs) = timeline->visibleTimes();
    header.clock = clock->currentIndex() == 0 ? TimelineClock::Central : TimelineClock::Post;
    header.chain = chain->text();
    header.problem = model_->problem();
    return header;
}

std::optional<QString> TimelineWindow::exportPdf(const QString& fileName)
{
    if (!reader_) return QStringLiteral("o registo não se pode ler");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The report says whether the journal is whole: its check, still running on a large file,
    // is waited for with the window alive.
    if (chain->report() == nullptr && chain->checking()) {
        QEventLoop checking;
        connect(chain, &ChainLine::checked, &checking, &QEventLoop::quit);
        checking.exec();
    }
    const auto failure = exportTimelinePdf(fileName, *reader_, reportHeader(), nameOf_);
    QApplication::restoreOverrideCursor();
    return failure;
}

std::optional<QString> TimelineWindow::exportCsv(const QString& fileName)
{
    if (!reader_) return QStringLiteral("o registo não se pode ler");
    const auto [fromMs, toMs] = timeline->visibleTimes();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto failure = exportTimelineCsv(fileName, *reader_, fromMs, toMs);
    QApplication::restoreOverrideCursor();
    return failure;
}

QString TimelineWindow::suggestedName(const QString& extension) const
{
    const auto [fromMs, toMs] = timeline->visibleTimes();
    return QDir::homePath() + QStringLiteral("/linha-do-tempo-%1.%2").arg(local(fromMs).toString(QStringLiteral("yyyy-MM-dd-HHmm")), extension);
}

void TimelineWindow::chooseExport(const QString& kind, std::optional<QString> (TimelineWindow::*write)(const QString&))
{
    const QString extension = kind.toLower();
    const QString fileName =
        QFileDialog::getSaveFileName(this, QStringLiteral("Exportar %1").arg(kind), suggestedName(extension), QStringLiteral("%1 (*.%2)").arg(kind, extension));
    if (fileName.isEmpty()) return;
    if (const auto failure = (this->*write)(fileName))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível exportar a linha do tempo.\n\n%1").arg(*failure));
}

void TimelineWindow::chooseFile()
{
    const QString fileName = QFileDialog::getOpenFileName(this, QStringLiteral("Abrir registo"), QFileInfo(model_->fileName()).absolutePath(),
                                                          QStringLiteral("Registos (*.sqlite *.sqlite.*);;Todos os ficheiros (*)"));
    if (!fileName.isEmpty()) openFile(fileName);
}
