// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form1.h"

#include "app/fonts.h"
#include "app/form3.h"
#include "app/mqtt_link.h"
#include "app/status_bar.h"
#include "panel/port_devices.h"
#include "prefs/twips.h"
#include "prefs/form5.h"
#include "prefs/journal_window.h"
#include "prefs/more_options_dialog.h"
#include "prefs/preferences_file.h"
#include "prefs/serial_ports_window.h"
#include "signs/panel_preview.h"
#include "signs/sign_display.h"
#include "signs/sign_table.h"

#include <algorithm>

#include <QAccessibleWidget>
#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QShortcut>
#include <QEvent>
#include <QGroupBox>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>

namespace {

constexpr std::int16_t defaultBaud = 9600;

struct SignPlace {
    std::int16_t index;
    int top;
    int width;
    int height;
};

// Top to bottom, as they stand on the window; the Index is the sign's own number.
constexpr std::array<SignPlace, 5> signPlaces{{
    {0, 270, 2145, 533},
    {1, 855, 2041, 481},
    {3, 1395, 2041, 429},
    {2, 1890, 2041, 429},
    {4, 2430, 2041, 429},
}};

QString portName(std::int16_t comPort) { return comName(comPort) + QLatin1Char(':'); }

// A class of its own, so that its accessible interface below is found before Qt's, which
// serves every QRadioButton. It also knows how its click came, for the journal.
class SignButton final : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

    void clickFrom(Origin origin)
    {
        origin_ = origin;
        click();
        origin_ = Origin::Mouse;
    }
    [[nodiscard]] Origin origin() const { return origin_; }

protected:
    // Space clicks on its release.
    void keyReleaseEvent(QKeyEvent* event) override
    {
        origin_ = Origin::Keyboard;
        QRadioButton::keyReleaseEvent(event);
        origin_ = Origin::Mouse;
    }

private:
    Origin origin_ = Origin::Mouse;
};

// A sign button to assistive technology: choosing it ("Press" or "Toggle") is a click, so the
// sign is sent, once. Qt's own radio button only toggles, which chooses without sending.
class SignButtonAccessible final : public QAccessibleWidget {
public:
    explicit SignButtonAccessible(SignButton* button) : QAccessibleWidget(button, QAccessible::RadioButton) {}

    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }
    [[nodiscard]] QStringList actionNames() const override
    {
        return QStringList{pressAction(), toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() || name == toggleAction()) {
            if (button()->isEnabled()) button()->clickFrom(Origin::Accessibility);
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    [[nodiscard]] SignButton* button() const { return static_cast<SignButton*>(widget()); }
};

// A key held down repeats, and each repeat would send its sign again, each a journal entry and
// an MQTT message, at the keyboard's rate. Only the first press of a sign key counts. A repeat
// is a press Qt marks so, or one with the very time of the release just before it: X sends a
// held key as release-press pairs of one time, which Qt cannot always tell from real presses.
// ShortcutOverride comes before the keys 1 to 5 reach their shortcuts: accepting it keeps a
// repeat from them, and the press that follows is dropped.
class HeldKeys final : public QObject {
public:
    explicit HeldKeys(QWidget& window) : QObject(&window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || widget->window() != &window_) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!isSignKey(key->key())) return false;
        if (type == QEvent::KeyRelease) {
            lastRelease_ = {key->key(), key->timestamp()};
            return false;
        }
        const bool repeat = key->isAutoRepeat() || (key->timestamp() != 0 && lastRelease_ == std::pair{key->key(), key->timestamp()});
        if (!repeat) return false;
        event->accept();
        return type == QEvent::KeyPress;
    }

private:
    static bool isSignKey(int key)
    {
        return (key >= Qt::Key_1 && key <= Qt::Key_5) || key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
    }

    QWidget& window_;
    std::pair<int, quint64> lastRelease_{0, 0};
};

QAccessibleInterface* signButtonAccessible(const QString& className, QObject* object)
{
    auto* button = qobject_cast<SignButton*>(object);
    if (className != QLatin1String("SignButton") || button == nullptr) return nullptr;
    return new SignButtonAccessible(button);
}

} // namespace

Form1::Form1(const QString& caption, PanelSettings& settings, SerialPort& port, QString preferencesFile,
             Journal* journal, QWidget* parent)
    : QMainWindow(parent),
      caption_(caption),
      settings_(settings),
      preferencesFile_(std::move(preferencesFile)),
      journal_(journal),
      MSComm1(port),
      StatusBar1(new PanelStatusBar(this)),
      link_(MSComm1, *StatusBar1),
      commands_(MSComm1)
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
    setStatusBar(StatusBar1);

    buildSignButtons(central);

    Picture1 = new PanelPreview(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->move(twips(2880), twips(405));
    Picture1->setFocusPolicy(Qt::TabFocus);

    signs_ = new SignDisplay(link_, commands_, *Picture1, settings_, this);
    signs_->setJournal(journal_);
    if (journal_ != nullptr) {
        // Said once, where the operator looks when something is wrong with the line.
        connect(journal_, &Journal::problemChanged, this, &Form1::showNotes);
        showNotes();
    }
    // Whatever chose it, the sign shown is what the broker hears; the keep-alive's resends
    // change nothing there.
    connect(signs_, &SignDisplay::signChosen, this, [this](SignKind kind, Origin origin, SendOutcome outcome) {
        if (mqtt_ == nullptr || origin == Origin::KeepAlive) return;
        const bool multi = settings_.signalMode == multiColourSigns;
        mqtt_->publishState(kind, Form5::nameFromMode(settings_.signalMode),
                            multi ? QString() : Form5::nameFromColour(settings_.signColour), outcome);
    });

    // Screen order, with the preview after the buttons.
    QWidget* previous = optionButtons_[0];
    for (std::size_t i = 1; i < optionButtons_.size(); ++i) {
        setTabOrder(previous, optionButtons_[i]);
        previous = optionButtons_[i];
    }
    setTabOrder(previous, Picture1);

    buildMenu();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::buildSignButtons(QWidget* central)
{
    static const bool accessibleSigns = (QAccessible::installFactory(signButtonAccessible), true);
    Q_UNUSED(accessibleSigns);
    Frame1 = new QGroupBox(central);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setAccessibleName(QStringLiteral("Sinal"));
    Frame1->setGeometry(twipsRect(180, 315, 2445, 3075));
    Option1 = new QButtonGroup(this);
    Option1->setExclusive(true);
    for (std::size_t row = 0; row < signPlaces.size(); ++row) {
        const SignPlace& b = signPlaces[row];
        const QString caption = QString::fromUtf8(describeSign(b.index)->caption);
        const int key = static_cast<int>(row) + 1;
        auto* button = new SignButton(caption, Frame1);
        button->setObjectName(QStringLiteral("Option1_%1").arg(b.index));
        button->setAccessibleName(caption);
        button->setToolTip(QStringLiteral("Tecla %1").arg(key));
        button->installEventFilter(this);
        // The keys 1 to 5, on the main row or the keypad, choose and send the sign at once.
        auto* shortcut = new QShortcut(QKeySequence(Qt::Key_0 + key), this);
        connect(shortcut, &QShortcut::activated, button, [button] { button->clickFrom(Origin::Keyboard); });
        button->setGeometry(twipsRect(225, b.top, b.width, b.height));
        button->setFont(tahoma(12.23));
        Option1->addButton(button, b.index);
        optionButtons_[row] = button;
    }
    option1(0).setChecked(true);
    qApp->installEventFilter(new HeldKeys(*this));
    connect(Option1, &QButtonGroup::idClicked, this, [this](int id) {
        Option1_Click(static_cast<std::int16_t>(id), static_cast<SignButton*>(Option1->button(id))->origin());
    });
}

void Form1::buildMenu()
{
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Opções"));
    menu->setObjectName(QStringLiteral("MNU_OPTIONS_TOP"));
    QAction* prefs = menu->addAction(QStringLiteral("&Preferências"));
    prefs->setObjectName(QStringLiteral("MNU_PREFS"));
    prefs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(prefs, &QAction::triggered, this, &Form1::MNU_PREFS_Click);
    QAction* ports = menu->addAction(QStringLiteral("Portas &série…"));
    ports->setObjectName(QStringLiteral("MNU_PORTS"));
    connect(ports, &QAction::triggered, this, &Form1::MNU_PORTS_Click);
    QAction* more = menu->addAction(QStringLiteral("&Mais opções…"));
    more->setObjectName(QStringLiteral("MNU_MORE"));
    connect(more, &QAction::triggered, this, &Form1::MNU_MORE_Click);
    QAction* lampTest = menu->addAction(QStringLiteral("&Teste do painel"));
    lampTest->setObjectName(QStringLiteral("MNU_LAMPTEST"));
    connect(lampTest, &QAction::triggered, signs_, &SignDisplay::startLampTest);
    QAction* journal = menu->addAction(QStringLiteral("&Registo…"));
    journal->setObjectName(QStringLiteral("MNU_JOURNAL"));
    journal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    journal->setEnabled(journal_ != nullptr);
    connect(journal, &QAction::triggered, this, &Form1::MNU_JOURNAL_Click);
    // Escape ends the lamp test at once and puts the chosen sign back.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, signs_, &SignDisplay::stopLampTest);
    menu->addSeparator()->setObjectName(QStringLiteral("mnuFileBar0"));
    QAction* exit = menu->addAction(QStringLiteral("Sa&ir"));
    exit->setObjectName(QStringLiteral("MNU_EXIT"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(exit, &QAction::triggered, this, &Form1::MNU_EXIT_Click);

    QAction* about = menuBar()->addAction(QStringLiteral("&Sobre..."));
    about->setObjectName(QStringLiteral("MNU_ABOUT"));
    connect(about, &QAction::triggered, this, &Form1::MNU_ABOUT_Click);
}

QRadioButton& Form1::option1(std::int16_t index) const
{
    return *static_cast<QRadioButton*>(Option1->button(index));
}

void Form1::Form_Load()
{
    readPreferences(settings_, preferencesFile_);
    more_ = readMoreSettings(moreSettingsPath(preferencesFile_), &moreProblems_);
    signs_->setKeepAlive(more_.keepAliveSeconds);
    // Old entries go at every start-up.
    if (journal_ != nullptr) {
        journal_->setRetention(more_.retentionDays);
        journal_->setSizeLimit(more_.journalMaxMb);
    }
    startMqtt();
    setWindowTitle(caption_);
    firstActivation_ = -1;
}

void Form1::Form_Activate()
{
    if (firstActivation_ == 0) return;
    firstActivation_ = 0;
    StatusBar1->setPanelText(2, portName(settings_.comPort).toStdString());
    link_.initSerial(settings_.comPort, defaultBaud);
    signs_->initPanel();
}

// Up and Down (and Left and Right) only move the focus among the sign buttons: sending every
// sign passed on the way would show false signs on the panel. Space, Enter or a click send.
bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    const auto found = std::find(optionButtons_.begin(), optionButtons_.end(), watched);
    if (found == optionButtons_.end() || event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto row = static_cast<int>(found - optionButtons_.begin());
    const int count = static_cast<int>(optionButtons_.size());
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
        optionButtons_[static_cast<std::size_t>((row + count - 1) % count)]->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Down:
    case Qt::Key_Right:
        optionButtons_[static_cast<std::size_t>((row + 1) % count)]->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        static_cast<SignButton*>(*found)->clickFrom(Origin::Keyboard);
        return true;
    default: return QMainWindow::eventFilter(watched, event);
    }
}

void Form1::comeForward()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool Form1::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) Form_Activate();
    return QMainWindow::event(event);
}

void Form1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!centred_) {
        centred_ = true;
        if (const QScreen* s = screen()) move(s->availableGeometry().center() - frameGeometry().center() + pos());
    }
    // A kiosk desktop without a window manager never activates the window; the panel must be
    // set up all the same once the window is on screen.
    if (firstActivation_ != 0) QMetaObject::invokeMethod(this, &Form1::Form_Activate, Qt::QueuedConnection);
}

SendOutcome Form1::Option1_Click(std::int16_t index, Origin origin) { return signs_->Option1_Click(index, origin); }

SendOutcome Form1::chooseSign(SignKind kind, Origin origin)
{
    option1(kind).setChecked(true);
    return Option1_Click(kind, origin);
}

void Form1::journalChange(const QString& action, const QStringList& changes)
{
    if (journal_ == nullptr || changes.isEmpty()) return;
    JournalEntry e;
    e.origin = Origin::Operator;
    e.action = action;
    e.port = settings_.comPort;
    e.outcome = QStringLiteral("alterado");
    e.detail = changes.join(QStringLiteral("; "));
    journal_->record(std::move(e));
}

void Form1::startMqtt()
{
    mqtt_.reset();
    mqttNote_.clear();
    std::optional<QString> refused;
    if (!more_.mqttRefused.isEmpty()) refused = more_.mqttRefused;
    else if (more_.mqtt.enabled()) {
        mqtt_ = std::make_unique<MqttLink>(more_.mqtt, [this](SignKind kind) { return chooseSign(kind, Origin::Remote); }, journal_);
        connect(mqtt_.get(), &MqttLink::statusChanged, this, [this](const QString& status) {
            mqttNote_ = status;
            showNotes();
        });
        refused = mqtt_->start();
        if (refused) mqtt_.reset();
    }
    if (refused) {
        mqttNote_ = QStringLiteral("MQTT desligado: %1").arg(*refused);
        if (journal_ != nullptr) {
            JournalEntry e;
            e.origin = Origin::Remote;
            e.action = QStringLiteral("MQTT");
            e.outcome = QStringLiteral("recusado");
            e.reason = *refused;
            e.failure = true;
            journal_->record(std::move(e));
        }
    }
    showNotes();
}

void Form1::showNotes()
{
    QStringList notes{journal_ != nullptr ? journal_->problem() : QString(), mqttNote_};
    notes.removeAll(QString());
    StatusBar1->setPanelNote(1, notes.join(QStringLiteral("\n")));
}

void Form1::MNU_PREFS_Click()
{
    const PanelSettings before = settings_;
    options = std::make_unique<Form5>(settings_, preferencesFile_, this);
    options->exec();
    options.reset();
    QStringList changes;
    if (before.comPort != settings_.comPort)
        changes << QStringLiteral("porta %1 → %2").arg(portName(before.comPort), portName(settings_.comPort));
    if (before.signalMode != settings_.signalMode)
        changes << QStringLiteral("modo %1 → %2").arg(Form5::nameFromMode(before.signalMode), Form5::nameFromMode(settings_.signalMode));
    if (before.signColour != settings_.signColour)
        changes << QStringLiteral("cor %1 → %2").arg(Form5::nameFromColour(before.signColour), Form5::nameFromColour(settings_.signColour));
    journalChange(QStringLiteral("preferências"), changes);
    StatusBar1->setPanelText(2, portName(settings_.comPort).toStdString());
    // Sends nothing: status panel 1 then says whether the chosen port opens.
    (void)signs_->probeLink(Origin::Operator);
}

void Form1::MNU_PORTS_Click()
{
    portsWindow = std::make_unique<SerialPortsWindow>(link_, this);
    portsWindow->setJournal(journal_);
    portsWindow->exec();
    portsWindow.reset();
}

void Form1::MNU_MORE_Click()
{
    const MoreSettings before = more_;
    MoreOptionsDialog dialog(more_, moreSettingsPath(preferencesFile_), moreProblems_, mqttNote_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    moreProblems_.clear();
    signs_->setKeepAlive(more_.keepAliveSeconds);
    QStringList changes;
    if (before.keepAliveSeconds != more_.keepAliveSeconds)
        changes << QStringLiteral("reenvio %1 s → %2 s").arg(before.keepAliveSeconds).arg(more_.keepAliveSeconds);
    if (before.retentionDays != more_.retentionDays) {
        changes << QStringLiteral("registo %1 → %2 dias").arg(before.retentionDays).arg(more_.retentionDays);
        if (journal_ != nullptr) journal_->setRetention(more_.retentionDays);
    }
    if (before.journalMaxMb != more_.journalMaxMb) {
        changes << QStringLiteral("registo até %1 → %2 MB").arg(before.journalMaxMb).arg(more_.journalMaxMb);
        if (journal_ != nullptr) journal_->setSizeLimit(more_.journalMaxMb);
    }
    if (before.mqtt != more_.mqtt) {
        changes << QStringLiteral("MQTT %1 → %2").arg(before.mqtt.enabled() ? before.mqtt.host : QStringLiteral("desligado"),
                                                     more_.mqtt.enabled() ? more_.mqtt.host : QStringLiteral("desligado"));
        startMqtt();
    }
    journalChange(QStringLiteral("mais opções"), changes);
}

void Form1::MNU_JOURNAL_Click()
{
    if (journal_ == nullptr) return;
    // One window, left open beside the main one, following new entries as they are written.
    if (!journalWindow_) journalWindow_ = std::make_unique<JournalWindow>(*journal_, this);
    else journalWindow_->refresh();
    journalWindow_->show();
    journalWindow_->raise();
    journalWindow_->activateWindow();
}

void Form1::MNU_ABOUT_Click()
{
    about = std::make_unique<Form3>(this);
    about->exec();
    about.reset();
}

void Form1::MNU_EXIT_Click() { close(); }

void Form1::endSession() { mqtt_.reset(); }

#include "form1.moc"
