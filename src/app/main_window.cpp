// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_window.h"

#include "app/about_box.h"
#include "app/sign_buttons.h"
#include "app/status_bar.h"
#include "journal_window/journal_window.h"
#include "session/panel_session.h"
#include "settings_dialogs/more_options_dialog.h"
#include "settings_dialogs/preferences_dialog.h"
#include "settings_dialogs/serial_ports_window.h"
#include "signs/sign_names.h"
#include "timeline_window/timeline_window.h"
#include "widgets/panel_preview.h"
#include "widgets/twips.h"

#include <QEvent>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSysInfo>

MainWindow::MainWindow(const QString& caption, PanelSession& session, PanelStatusBar* statusBar, PanelPreview* preview, QWidget* parent)
    : QMainWindow(parent), session_(session), statusBar_(statusBar), preview_(preview)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Form1Client"));
    central->setAutoFillBackground(true);
    QPalette workspace = central->palette();
    workspace.setColor(QPalette::Window, workspace.color(QPalette::Dark));
    central->setPalette(workspace);
    // The client area is 6071 x 3835 twips, of which the status bar takes the bottom 273.
    central->setMinimumSize(twipsSize(6071, 3562));
    setCentralWidget(central);
    setStatusBar(statusBar_);

    signButtons_ = new SignButtons(*this);
    signButtons_->setParent(central);
    connect(signButtons_, &SignButtons::signChosen, &session_, [this](Sign kind, Origin origin) { session_.chooseSign(kind, origin); });
    // A sign chosen elsewhere (D-Bus, MQTT) shows as chosen here too.
    connect(&session_, &PanelSession::signChosen, this, [this](const PanelSession::Choice& choice) {
        if (describeSign(choice.sign) != nullptr) signButton(choice.sign).setChecked(true);
        statusBar_->showTimedSign(signCaption(choice.sign), choice.endsAt);
    });

    preview_->setParent(central);
    preview_->setObjectName(QStringLiteral("Picture1"));
    preview_->move(twips(2880), twips(405));
    preview_->setFocusPolicy(Qt::TabFocus);

    // Screen order, with the preview after the buttons.
    QWidget* previous = nullptr;
    for (QRadioButton* button : signButtons_->inScreenOrder()) {
        if (previous != nullptr) setTabOrder(previous, button);
        previous = button;
    }
    setTabOrder(previous, preview_);

    connect(&session_, &PanelSession::notesChanged, this, [this](const QString& notes) { statusBar_->setPanelNote(1, notes); });
    statusBar_->setPanelNote(1, session_.notes());
    buildMenu();
    setWindowTitle(caption);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Opções"));
    menu->setObjectName(QStringLiteral("MNU_OPTIONS_TOP"));
    QAction* prefs = menu->addAction(QStringLiteral("&Preferências"));
    prefs->setObjectName(QStringLiteral("MNU_PREFS"));
    prefs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(prefs, &QAction::triggered, this, &MainWindow::editPreferences);
    QAction* ports = menu->addAction(QStringLiteral("Portas &série…"));
    ports->setObjectName(QStringLiteral("MNU_PORTS"));
    connect(ports, &QAction::triggered, this, &MainWindow::editPortBindings);
    QAction* more = menu->addAction(QStringLiteral("&Mais opções…"));
    more->setObjectName(QStringLiteral("MNU_MORE"));
    connect(more, &QAction::triggered, this, &MainWindow::editMoreOptions);
    QAction* lampTest = menu->addAction(QStringLiteral("&Teste do painel"));
    lampTest->setObjectName(QStringLiteral("MNU_LAMPTEST"));
    connect(lampTest, &QAction::triggered, &session_, &PanelSession::startLampTest);
    QAction* journal = menu->addAction(QStringLiteral("&Registo…"));
    journal->setObjectName(QStringLiteral("MNU_JOURNAL"));
    journal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    journal->setEnabled(session_.journal() != nullptr);
    connect(journal, &QAction::triggered, this, &MainWindow::showJournal);
    QAction* timeline = menu->addAction(QStringLiteral("&Linha do tempo…"));
    timeline->setObjectName(QStringLiteral("MNU_TIMELINE"));
    timeline->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    timeline->setEnabled(session_.journal() != nullptr);
    connect(timeline, &QAction::triggered, this, &MainWindow::showTimeline);
    // Escape ends the lamp test at once and puts the chosen sign back.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, &session_, &PanelSession::stopLampTest);
    menu->addSeparator()->setObjectName(QStringLiteral("mnuFileBar0"));
    QAction* exit = menu->addAction(QStringLiteral("Sa&ir"));
    exit->setObjectName(QStringLiteral("MNU_EXIT"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QAction* about = menuBar()->addAction(QStringLiteral("&Sobre..."));
    about->setObjectName(QStringLiteral("MNU_ABOUT"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

QRadioButton& MainWindow::signButton(Sign kind) const { return signButtons_->button(kind); }

void MainWindow::startPanel() { session_.start(); }

void MainWindow::comeForward()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) startPanel();
    return QMainWindow::event(event);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!centred_) {
        centred_ = true;
        if (const QScreen* s = screen()) move(s->availableGeometry().center() - frameGeometry().center() + pos());
    }
    // A kiosk desktop without a window manager never activates the window; the panel must be
    // set up all the same once the window is on screen.
    if (!session_.started()) QMetaObject::invokeMethod(this, &MainWindow::startPanel, Qt::QueuedConnection);
}

void MainWindow::editPreferences()
{
    PanelSettings edited = session_.settings();
    PreferencesDialog(edited, session_.preferencesFile(), this).exec();
    session_.setPreferences(edited);
}

void MainWindow::editPortBindings()
{
    SerialPortsWindow window([this](std::int16_t port) { return session_.lastFailure(port); }, this);
    window.setJournal(session_.journal());
    window.setEcho(session_.moreSettings().echo, [this](std::int16_t port, bool on) { return session_.setEcho(port, on); });
    window.exec();
}

void MainWindow::editMoreOptions()
{
    MoreSettings edited = session_.moreSettings();
    MoreOptionsDialog dialog(edited, moreSettingsPath(session_.preferencesFile()), session_.moreSettingsProblems(), session_.mqttNote(), this);
    if (dialog.exec() == QDialog::Accepted) session_.setMoreSettings(edited);
}

void MainWindow::showJournal()
{
    if (session_.journal() == nullptr) return;
    // One window, left open beside the main one, following new entries as they are written.
    if (!journalWindow_) journalWindow_ = std::make_unique<JournalWindow>(*session_.journal(), this);
    else journalWindow_->refresh();
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void MainWindow::showTimeline()
{
    if (session_.journal() == nullptr) return;
    if (!timelineWindow_) {
        const MqttSettings& mqtt = session_.moreSettings().mqtt;
        const QString name = mqtt.enabled() && !mqtt.displayName().isEmpty() ? mqtt.displayName() : QSysInfo::machineHostName();
        timelineWindow_ = std::make_unique<TimelineWindow>(*session_.journal(), QStringLiteral("posto %1").arg(name), this);
    }
    timelineWindow_->show();
    timelineWindow_->raise();
    timelineWindow_->activateWindow();
}

void MainWindow::showAbout() { AboutBox(this).exec(); }
