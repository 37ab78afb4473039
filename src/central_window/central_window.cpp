// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/central_window.h"

#include "mqtt/site_protocol.h"

#include "central_window/post_tile.h"
#include "journal_window/journal_window.h"
#include "signs/sign_names.h"
#include "timeline_window/timeline_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QVBoxLayout>

CentralWindow::CentralWindow(PostBoard& board, Journal* journal, QWidget* parent) : QMainWindow(parent), board_(board), journal_(journal)
{
    setObjectName(QStringLiteral("CentralWindow"));
    setWindowTitle(QStringLiteral("Painel Central"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);

    auto* controls = new QHBoxLayout;
    stopAll_ = new QPushButton(QStringLiteral("PARAR EM TODOS (Esc)"), body);
    stopAll_->setObjectName(QStringLiteral("stopAll"));
    stopAll_->setAccessibleName(QStringLiteral("Parar em todos"));
    QFont big = stopAll_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    stopAll_->setFont(big);
    stopAll_->setMinimumHeight(56);
    stopAll_->setStyleSheet(QStringLiteral("QPushButton { background: #b00000; color: white; padding: 6px 18px; border: 3px solid black; }"));
    connect(stopAll_, &QPushButton::clicked, this, &CentralWindow::stopAll);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &CentralWindow::stopAll);
    controls->addWidget(stopAll_);
    controls->addSpacing(16);
    // In screen order, as on the posts: the keys 1 to 5 choose them.
    for (std::size_t place = 0; place < signsInScreenOrder.size(); ++place) {
        const Sign sign = signsInScreenOrder[place];
        auto* button = new QPushButton(QStringLiteral("%1  %2").arg(place + 1).arg(signCaption(sign)), body);
        button->setObjectName(QStringLiteral("sign%1").arg(signIndex(sign)));
        button->setAccessibleName(QStringLiteral("%1 nos selecionados").arg(signCaption(sign)));
        button->setMinimumHeight(56);
        button->setEnabled(false);
        connect(button, &QPushButton::clicked, this, [this, sign] { send(sign); });
        connect(new QShortcut(QKeySequence(Qt::Key_1 + int(place)), this), &QShortcut::activated, this, [this, sign] { send(sign); });
        signButtons_.at(signIndex(sign)) = button;
        controls->addWidget(button);
    }
    duration_ = new QSpinBox(body);
    duration_->setObjectName(QStringLiteral("duration"));
    duration_->setAccessibleName(QStringLiteral("Duração do sinal"));
    duration_->setToolTip(QStringLiteral("Quanto tempo fica o sinal; depois, cada posto mostra o seu sinal de fim. Parar em todos não tem duração."));
    duration_->setRange(0, site::maxDurationSeconds);
    duration_->setSpecialValueText(QStringLiteral("sem fim"));
    duration_->setPrefix(QStringLiteral("durante "));
    duration_->setSuffix(QStringLiteral(" s"));
    duration_->setMinimumHeight(56);
    controls->addWidget(duration_);
    controls->addSpacing(16);
    auto* all = new QPushButton(QStringLiteral("&Todos"), body);
    all->setObjectName(QStringLiteral("selectAll"));
    connect(all, &QPushButton::clicked, this, [this] { selectAll(true); });
    auto* none = new QPushButton(QStringLiteral("&Nenhum"), body);
    none->setObjectName(QStringLiteral("selectNone"));
    connect(none, &QPushButton::clicked, this, [this] { selectAll(false); });
    controls->addWidget(all);
    controls->addWidget(none);
    controls->addStretch();
    layout->addLayout(controls);

    auto* finding = new QHBoxLayout;
    search_ = new QLineEdit(body);
    search_->setObjectName(QStringLiteral("search"));
    search_->setAccessibleName(QStringLiteral("Procurar posto"));
    search_->setPlaceholderText(QStringLiteral("nome ou identificação"));
    search_->setClearButtonEnabled(true);
    auto* searchLabel = new QLabel(QStringLiteral("&Procurar:"), body);
    searchLabel->setBuddy(search_);
    group_ = new QComboBox(body);
    group_->setObjectName(QStringLiteral("group"));
    group_->setAccessibleName(QStringLiteral("Grupo"));
    group_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    group_->addItem(QStringLiteral("todos os grupos"));
    auto* groupLabel = new QLabel(QStringLiteral("&Grupo:"), body);
    groupLabel->setBuddy(group_);
    stopGroup_ = new QPushButton(QStringLiteral("Parar no grupo"), body);
    stopGroup_->setObjectName(QStringLiteral("stopGroup"));
    stopGroup_->setAccessibleName(QStringLiteral("Parar no grupo"));
    stopGroup_->setEnabled(false);
    connect(stopGroup_, &QPushButton::clicked, this, &CentralWindow::stopGroup);
    connect(search_, &QLineEdit::textChanged, this, &CentralWindow::arrange);
    connect(group_, &QComboBox::currentIndexChanged, this, [this](int index) {
        stopGroup_->setEnabled(index > 0);
        arrange();
    });
    finding->addWidget(searchLabel);
    finding->addWidget(search_, 1);
    finding->addSpacing(16);
    finding->addWidget(groupLabel);
    finding->addWidget(group_);
    finding->addWidget(stopGroup_);
    finding->addStretch(1);
    layout->addLayout(finding);

    summary_ = new QLabel(QStringLiteral("Nenhum pedido enviado."), body);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setTextFormat(Qt::PlainText);
    QFont summaryFont = summary_->font();
    summaryFont.setBold(true);
    summary_->setFont(summaryFont);
    layout->addWidget(summary_);
    stale_ =
        new QLabel(QStringLiteral("⚠ Sem ligação ao broker: os postos podem já não estar como se mostram, e nenhum pedido chega até haver ligação."), body);
    stale_->setObjectName(QStringLiteral("stale"));
    stale_->setTextFormat(Qt::PlainText);
    stale_->setWordWrap(true);
    stale_->setStyleSheet(QStringLiteral("QLabel { border: 2px dashed #a00000; background: #ffe8e0; padding: 4px; }"));
    layout->addWidget(stale_);

    scroll_ = new QScrollArea(body);
    scroll_->setObjectName(QStringLiteral("posts"));
    scroll_->setWidgetResizable(true);
    grid_ = new QWidget(scroll_);
    gridLayout_ = new QGridLayout(grid_);
    gridLayout_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll_->setWidget(grid_);
    layout->addWidget(scroll_, 1);
    setCentralWidget(body);

    linkStatus_ = new QLabel(this);
    linkStatus_->setObjectName(QStringLiteral("linkStatus"));
    openBroker_ = new QLabel(QStringLiteral("⚠ broker aberto: qualquer cliente pode imitar um posto"), this);
    openBroker_->setObjectName(QStringLiteral("openBroker"));
    openBroker_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    openBroker_->setToolTip(QStringLiteral("Sem a ACL do site no broker, qualquer cliente pode dizer-se um posto: pô-lo em linha ou fora dela, "
                                           "confirmar um pedido ou mostrar um sinal que o painel não mostra."));
    openBroker_->hide();
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("counts"));
    statusBar()->addWidget(linkStatus_, 1);
    statusBar()->addPermanentWidget(openBroker_);
    statusBar()->addPermanentWidget(counts_);

    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Opções"));
    QAction* options = menu->addAction(QStringLiteral("&Mais opções…"));
    options->setObjectName(QStringLiteral("MNU_OPTIONS"));
    connect(options, &QAction::triggered, this, &CentralWindow::optionsRequested);
    QAction* journalAction = menu->addAction(QStringLiteral("&Registo…"));
    journalAction->setObjectName(QStringLiteral("MNU_JOURNAL"));
    journalAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    journalAction->setEnabled(journal_ != nullptr);
    connect(journalAction, &QAction::triggered, this, &CentralWindow::showJournal);
    QAction* timelineAction = menu->addAction(QStringLiteral("&Linha do tempo…"));
    timelineAction->setObjectName(QStringLiteral("MNU_TIMELINE"));
    timelineAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    timelineAction->setEnabled(journal_ != nullptr);
    connect(timelineAction, &QAction::triggered, this, &CentralWindow::showTimeline);
    QAction* absent = menu->addAction(QStringLiteral("Remover postos &ausentes…"));
    absent->setObjectName(QStringLiteral("MNU_REMOVE_ABSENT"));
    connect(absent, &QAction::triggered, this, &CentralWindow::removeAbsent);
    menu->addSeparator();
    QAction* exit = menu->addAction(QStringLiteral("Sa&ir"));
    exit->setObjectName(QStringLiteral("MNU_EXIT"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    auto* selectAllKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_A), this);
    connect(selectAllKey, &QShortcut::activated, this, [this] { selectAll(true); });

    refresh_.setSingleShot(true);
    connect(&refresh_, &QTimer::timeout, this, &CentralWindow::refresh);
    ages_.setInterval(5000);
    connect(&ages_, &QTimer::timeout, this, [this] {
        for (const auto& [id, tile] : tiles_)
            if (const Post* post = board_.post(id)) tile->showAge(*post);
    });
    ages_.start();
    // A sign with a time counts down on its tile, second by second.
    countdowns_.setInterval(1000);
    connect(&countdowns_, &QTimer::timeout, this, [this] {
        for (const auto& [id, tile] : tiles_)
            if (const Post* post = board_.post(id); post != nullptr && post->endsAt.isValid()) tile->showSign(*post);
    });
    countdowns_.start();
    connect(&board_, &PostBoard::postChanged, this, [this](const QString& id) {
        dirty_.insert(id);
        if (!refresh_.isActive()) refresh_.start(0);
    });
    connect(&board_, &PostBoard::postsChanged, this, [this] {
        arrangePending_ = true;
        if (!refresh_.isActive()) refresh_.start(0);
    });
    // Said with the tiles it sums up, in the same redraw.
    connect(&board_, &PostBoard::summaryChanged, this, [this] {
        if (!refresh_.isActive()) refresh_.start(0);
    });
    resize(1040, 680);
    arrange();
}

CentralWindow::~CentralWindow() = default;

PostTile* CentralWindow::tile(const QString& id) const
{
    const auto found = tiles_.find(id);
    return found == tiles_.end() ? nullptr : found->second;
}

void CentralWindow::setLinkStatus(const QString& status, bool connected)
{
    linkStatus_->setText(status);
    stale_->setVisible(!connected);
}

void CentralWindow::setOpenBroker(bool open) { openBroker_->setVisible(open); }

QString CentralWindow::summaryText() const
{
    QStringList text{summary_->text()};
    for (const QString& id : board_.ids())
        if (const PostTile* t = tile(id)) text << t->text();
    return text.join(QStringLiteral("\n\n"));
}

void CentralWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    arrange();
}

bool CentralWindow::shown(const Post& post) const
{
    const QString wanted = search_->text().trimmed();
    if (!wanted.isEmpty() && !post.id.contains(wanted, Qt::CaseInsensitive) && !post.name.contains(wanted, Qt::CaseInsensitive)) return false;
    return group_->currentIndex() <= 0 || PostBoard::groupOf(post) == group_->currentText();
}

void CentralWindow::showGroups(const QStringList& ids)
{
    const QStringList groups = board_.groups(ids);
    QStringList offered;
    for (int i = 1; i < group_->count(); ++i) offered << group_->itemText(i);
    if (offered == groups) return;
    const QString chosen = group_->currentIndex() > 0 ? group_->currentText() : QString();
    const QSignalBlocker quiet(group_);
    while (group_->count() > 1) group_->removeItem(1);
    group_->addItems(groups);
    // A group gone (its posts renamed or removed) leaves every group shown.
    const int index = chosen.isEmpty() ? 0 : std::max(0, int(groups.indexOf(chosen)) + 1);
    group_->setCurrentIndex(index);
    stopGroup_->setEnabled(index > 0);
}

void CentralWindow::stopGroup()
{
    if (group_->currentIndex() <= 0) return;
    QStringList targets;
    for (const QString& id : board_.ids())
        if (PostBoard::groupOf(*board_.post(id)) == group_->currentText()) targets << id;
    (void)board_.send(Sign::Stop, targets, 0);
}

void CentralWindow::arrange()
{
    const QStringList all = board_.ids();
    showGroups(all);
    QStringList ids;
    for (const QString& id : all)
        if (shown(*board_.post(id))) ids << id;
    const QSet<QString> showing(ids.begin(), ids.end());
    // Posts gone, or not shown, lose their tiles and their selection: a sign goes only to posts
    // the operator sees.
    for (auto it = tiles_.begin(); it != tiles_.end();) {
        if (showing.contains(it->first)) {
            ++it;
            continue;
        }
        selected_.erase(it->first);
        delete it->second;
        it = tiles_.erase(it);
    }
    arrangePending_ = false;
    const int tileWidth = PostTile::tileSize.width() + gridLayout_->horizontalSpacing();
    const int columns = std::max(1, (scroll_->viewport()->width() - 20) / std::max(tileWidth, 1));
    QWidget* previous = stopAll_;
    for (int i = 0; i < ids.size(); ++i) {
        auto [found, made] = tiles_.try_emplace(ids[i], nullptr);
        if (made) {
            found->second = new PostTile(ids[i], grid_);
            connect(found->second, &PostTile::clicked, this, &CentralWindow::select);
            dirty_.insert(ids[i]);
        }
        gridLayout_->addWidget(found->second, i / columns, i % columns);
        found->second->show();
        setTabOrder(previous, found->second);
        previous = found->second;
    }
    refresh();
}

void CentralWindow::refresh()
{
    if (arrangePending_) return arrange();
    if (const QString summary = board_.summary(); !summary.isEmpty()) summary_->setText(summary);
    // A full list leaves posts out: said in red, as no tile shows them.
    summary_->setStyleSheet(board_.ignoredPosts() > 0 ? QStringLiteral("QLabel { color: #b00000; }") : QString());
    for (const QString& id : std::exchange(dirty_, {}))
        if (PostTile* t = tile(id); t != nullptr && board_.post(id) != nullptr) t->showPost(*board_.post(id), selected_.count(id) != 0);
    showCounts();
}

void CentralWindow::showCounts()
{
    int online = 0, troubled = 0;
    const QStringList ids = board_.ids();
    for (const QString& id : ids)
        if (board_.post(id)->online) ++online;
    for (const auto& [id, tile] : tiles_)
        if (tile->troubled()) ++troubled;
    const qsizetype posts = ids.size();
    QString text = QStringLiteral("%1, %2 em linha, %3 com problemas, %4 selecionados")
                       .arg(posts == 1 ? QStringLiteral("1 posto") : QStringLiteral("%1 postos").arg(posts))
                       .arg(online)
                       .arg(troubled)
                       .arg(selected_.size());
    if (qsizetype(tiles_.size()) != posts) text += QStringLiteral("; %1 mostrados").arg(tiles_.size());
    const std::size_t ignored = board_.ignoredPosts();
    if (ignored > 0) text += ignored == 1 ? QStringLiteral("; lista cheia: 1 ignorado") : QStringLiteral("; lista cheia: %1 ignorados").arg(ignored);
    counts_->setText(text);
    counts_->setStyleSheet(ignored > 0 ? QStringLiteral("QLabel { color: #b00000; font-weight: bold; }") : QString());
    for (QPushButton* button : signButtons_) button->setEnabled(!selected_.empty());
}

void CentralWindow::select(const QString& id, bool toggle)
{
    for (const QString& was : selected_) dirty_.insert(was);
    if (!toggle) selected_ = {id};
    else if (!selected_.erase(id)) selected_.insert(id);
    dirty_.insert(id);
    refresh();
}

void CentralWindow::selectAll(bool all)
{
    selected_.clear();
    for (const auto& [id, tile] : tiles_) {
        if (all) selected_.insert(id);
        dirty_.insert(id);
    }
    refresh();
}

void CentralWindow::send(Sign sign)
{
    if (selected_.empty()) return;
    QStringList targets;
    for (const QString& id : board_.ids())
        if (selected_.count(id) != 0) targets << id;
    (void)board_.send(sign, targets, duration_->value());
}

// Stopping is the safe state: no question asked.
void CentralWindow::stopAll() { (void)board_.stopAll(); }

void CentralWindow::showJournal()
{
    if (journal_ == nullptr) return;
    if (!journalWindow_) journalWindow_ = std::make_unique<JournalWindow>(*journal_, this);
    else journalWindow_->refresh();
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void CentralWindow::showTimeline()
{
    if (journal_ == nullptr) return;
    if (!timelineWindow_) {
        timelineWindow_ = std::make_unique<TimelineWindow>(*journal_, QStringLiteral("sala de controlo %1").arg(board_.centralId()), this);
        timelineWindow_->nameLanes([this](const QString& id) {
            const Post* post = board_.post(id);
            return post == nullptr || post->displayName() == id ? id : QStringLiteral("%1 (%2)").arg(post->displayName(), id);
        });
    }
    timelineWindow_->show();
    timelineWindow_->raise();
    timelineWindow_->activateWindow();
}

void CentralWindow::removeAbsent()
{
    const QStringList absent = board_.absentForADay();
    if (absent.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Remover postos ausentes"), QStringLiteral("Nenhum posto está fora de linha há mais de um dia."));
        return;
    }
    QMessageBox question(QMessageBox::Question, QStringLiteral("Remover postos ausentes"),
                         QStringLiteral("Remover %1 fora de linha há mais de um dia?\n\n%2\n\nO que o broker guarda deles também se apaga: "
                                        "só voltam quando se ligarem de novo.")
                             .arg(absent.size() == 1 ? QStringLiteral("1 posto") : QStringLiteral("%1 postos").arg(absent.size()))
                             .arg(absent.join(QStringLiteral(", "))),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName(QStringLiteral("removeAbsentQuestion"));
    question.button(QMessageBox::Yes)->setText(QStringLiteral("Remover"));
    question.button(QMessageBox::No)->setText(QStringLiteral("Cancelar"));
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes) return;
    emit forgetRequested(absent);
}
