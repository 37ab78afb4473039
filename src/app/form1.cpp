#include "app/form1.h"

#include "app/fonts.h"
#include "app/form3.h"
#include "app/status_bar.h"
#include "prefs/twips.h"
#include "prefs/form5.h"
#include "prefs/preferences_file.h"
#include "prefs/serial_ports_window.h"
#include "signs/panel_preview.h"
#include "signs/sign_display.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGroupBox>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>

namespace {

constexpr std::int16_t defaultBaud = 9600;

struct SignButton {
    std::int16_t index;
    const char* caption;
    int top;
    int width;
    int height;
};

// Top to bottom, as they stand on the window; the Index is the sign's own number.
constexpr std::array<SignButton, 5> signButtons{{
    {0, "Parar", 270, 2145, 533},
    {1, "Frente", 855, 2041, 481},
    {3, "Esquerda", 1395, 2041, 429},
    {2, "Direita", 1890, 2041, 429},
    {4, "Xadrez", 2430, 2041, 429},
}};

QString portName(std::int16_t comPort) { return QStringLiteral("COM%1:").arg(comPort); }

} // namespace

Form1::Form1(const QString& caption, PanelSettings& settings, SerialPort& port, QString preferencesFile,
             QWidget* parent)
    : QMainWindow(parent),
      caption_(caption),
      settings_(settings),
      preferencesFile_(std::move(preferencesFile)),
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
    Frame1 = new QGroupBox(central);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(twipsRect(180, 315, 2445, 3075));
    Option1 = new QButtonGroup(this);
    Option1->setExclusive(true);
    for (std::size_t row = 0; row < signButtons.size(); ++row) {
        const SignButton& b = signButtons[row];
        auto* button = new QRadioButton(QString::fromUtf8(b.caption), Frame1);
        button->setObjectName(QStringLiteral("Option1_%1").arg(b.index));
        button->setGeometry(twipsRect(225, b.top, b.width, b.height));
        button->setFont(tahoma(12.23));
        Option1->addButton(button, b.index);
        optionButtons_[row] = button;
    }
    option1(0).setChecked(true);
    connect(Option1, &QButtonGroup::idClicked, this,
            [this](int id) { Option1_Click(static_cast<std::int16_t>(id)); });
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

void Form1::Option1_Click(std::int16_t index) { signs_->Option1_Click(index); }

void Form1::MNU_PREFS_Click()
{
    options = std::make_unique<Form5>(settings_, preferencesFile_, this);
    options->exec();
    options.reset();
    StatusBar1->setPanelText(2, portName(settings_.comPort).toStdString());
    // Sends nothing: status panel 1 then says whether the chosen port opens.
    (void)link_.openSendClose(settings_.comPort, [] {});
}

void Form1::MNU_PORTS_Click()
{
    portsWindow = std::make_unique<SerialPortsWindow>(link_, this);
    portsWindow->exec();
    portsWindow.reset();
}

void Form1::MNU_ABOUT_Click()
{
    about = std::make_unique<Form3>(this);
    about->exec();
    about.reset();
}

void Form1::MNU_EXIT_Click() { close(); }
