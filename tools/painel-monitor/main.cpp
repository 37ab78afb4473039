// SPDX-License-Identifier: GPL-3.0-or-later
#include "cable_echo.h"
#include "painel_version.h"
#include "platform/qt_translation.h"
#include "platform/signal_events.h"
#include "program_icon.h"
#include "pty_line.h"
#include "serial/port_devices.h"
#include "virtual_panel.h"
#include "wire_monitor.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScreen>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

bool wantsWindow(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--window") == 0) return true;
    }
    return false;
}

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "painel-monitor: %s\n", qPrintable(message));
    std::exit(1);
}

// The real line: read-only, since the panel never answers; read and written with the cable's echo.
std::unique_ptr<QSerialPort> openDevice(const QString& name, WireMonitor& monitor, CableEcho* echo)
{
    auto port = std::make_unique<QSerialPort>(name);
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (!port->open(echo != nullptr ? QIODevice::ReadWrite : QIODevice::ReadOnly)) fail(QStringLiteral("%1: %2").arg(name, port->errorString()));
    QObject::connect(port.get(), &QSerialPort::readyRead, &monitor, [&monitor, echo, p = port.get()] {
        const QByteArray bytes = p->readAll();
        monitor.take(bytes);
        if (echo != nullptr) p->write(echo->respond(bytes));
    });
    QObject::connect(port.get(), &QSerialPort::errorOccurred, &monitor, [p = port.get()](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError) fail(QStringLiteral("%1: %2").arg(p->portName(), p->errorString()));
    });
    return port;
}

// The link placed over what stood there: nothing, a link to a pseudo-terminal, or one a monitor
// placed before (to a descriptor under /proc, dangling once that monitor is gone). Anything else
// may be a real port's binding, and is left alone.
std::optional<QString> placeLink(const QString& path, const QString& target)
{
    const QFileInfo existing(path);
    if (existing.isSymLink()) {
        static const QRegularExpression monitorTarget(QStringLiteral("^/proc/\\d+/fd/\\d+$"));
        const QString was = existing.symLinkTarget();
        if (!was.startsWith(QLatin1String("/dev/pts/")) && !monitorTarget.match(was).hasMatch())
            return QStringLiteral("%1 aponta para %2, que não é um pseudo-terminal: fica como está").arg(path, was);
    } else if (existing.exists()) {
        return QStringLiteral("%1 existe e não é uma ligação: fica como está").arg(path);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (replaceLink(path, target)) return QStringLiteral("%1: não foi possível criar a ligação").arg(path);
    return std::nullopt;
}

// The program's window opens centred on the screen and about 420 pixels wide: the virtual
// panel goes to its left, narrower if the screen is small, so neither covers the other.
void placeBesideProgram(QWidget& panel)
{
    constexpr int programHalfWidth = 215;
    constexpr int gap = 12;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect free = screen->availableGeometry();
    const int room = free.center().x() - programHalfWidth - gap - free.left();
    const int width = std::clamp(room, panel.minimumWidth(), panel.width());
    const int height = std::min(panel.height(), free.height() - 40);
    panel.resize(width, height);
    panel.move(free.left() + std::max(0, room - width), free.top() + (free.height() - height) / 2);
}

} // namespace

int main(int argc, char** argv)
{
    // Without a window the monitor needs no display, so it runs on a headless machine too.
    std::unique_ptr<QCoreApplication> app;
    if (wantsWindow(argc, argv)) app = std::make_unique<QApplication>(argc, argv);
    else app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("painel-monitor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PAINEL_VERSION));
    if (auto* gui = qobject_cast<QApplication*>(app.get())) gui->setWindowIcon(programIcon());
    installQtTranslation();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Faz de painel sinalético na outra ponta da linha série e escreve cada trama que chega."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption pty(QStringLiteral("pty"), QStringLiteral("Cria um pseudo-terminal e escreve primeiro o seu caminho."));
    const QCommandLineOption window(QStringLiteral("window"), QStringLiteral("Mostra também a matriz do painel numa janela."));
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Com --pty: mantém em CAMINHO uma ligação ao pseudo-terminal enquanto corre."),
                                  QStringLiteral("CAMINHO"));
    const QCommandLineOption besideProgram(QStringLiteral("beside-program"), QStringLiteral("Põe a janela à esquerda da janela do programa, centrada."));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Dá o painel como sem sinal após S segundos sem trama válida."),
                                     QStringLiteral("S"));
    const QCommandLineOption echoOption(QStringLiteral("eco"),
                                        QStringLiteral("Faz de cabo com eco: devolve cada byte que chega, como o laço na ficha do painel. "
                                                       "SIGUSR1 corta e volta a ligar o cabo; SIGUSR2 troca o byte seguinte."));
    const QCommandLineOption echoCut(QStringLiteral("eco-corte-apos"), QStringLiteral("Com --eco: corta o cabo depois de devolver N bytes."),
                                     QStringLiteral("N"));
    parser.addOption(pty);
    parser.addOption(window);
    parser.addOption(echoOption);
    parser.addOption(echoCut);
    parser.addOption(timeout);
    parser.addOption(link);
    parser.addOption(besideProgram);
    parser.addPositionalArgument(QStringLiteral("DISPOSITIVO"), QStringLiteral("Dispositivo série a ler, a 9600 8N1."));
    parser.process(*app);
    const QStringList devices = parser.positionalArguments();
    if (parser.isSet(pty) == !devices.isEmpty() || devices.size() > 1 || (parser.isSet(link) && !parser.isSet(pty))
        || (parser.isSet(echoCut) && !parser.isSet(echoOption)))
        parser.showHelp(2);

    // Stopped by a signal, the monitor leaves the normal way: pending bytes reported, status 0.
    SignalEvents quitSignals({SIGINT, SIGTERM});
    QObject::connect(&quitSignals, &SignalEvents::received, app.get(), [] { QCoreApplication::quit(); });
    WireMonitor monitor;
    if (parser.isSet(timeout)) {
        bool number = false;
        const double seconds = parser.value(timeout).toDouble(&number);
        if (!number || seconds <= 0 || seconds > 86400)
            fail(QStringLiteral("--timeout quer segundos acima de 0 e até 86400, não %1").arg(parser.value(timeout)));
        monitor.setSilenceLimit(seconds);
    }

    // The cable's loop: cut and restored by SIGUSR1, a byte garbled by SIGUSR2, said in the log.
    std::unique_ptr<CableEcho> echo;
    SignalEvents echoSignals({SIGUSR1, SIGUSR2});
    if (parser.isSet(echoOption)) {
        echo = std::make_unique<CableEcho>();
        if (parser.isSet(echoCut)) {
            bool number = false;
            const qlonglong bytes = parser.value(echoCut).toLongLong(&number);
            if (!number || bytes < 1) fail(QStringLiteral("--eco-corte-apos quer um número de bytes acima de 0, não %1").arg(parser.value(echoCut)));
            echo->cutAfter(static_cast<std::size_t>(bytes));
        }
        QObject::connect(&echoSignals, &SignalEvents::received, echo.get(), [e = echo.get()](int number) {
            if (number == SIGUSR1) e->setCut(!e->isCut());
            else e->garbleNext();
        });
        QObject::connect(echo.get(), &CableEcho::changed, &monitor, [&monitor](const QString& what) { monitor.note(QStringLiteral("eco: %1").arg(what)); });
    }
    std::unique_ptr<PtyLine> ptyLine;
    std::unique_ptr<QSerialPort> device;
    QString lineName;
    QString linkPath;
    if (parser.isSet(pty)) {
        try {
            ptyLine = std::make_unique<PtyLine>();
        } catch (const std::runtime_error& e) {
            fail(QString::fromLocal8Bit(e.what()));
        }
        lineName = ptyLine->slavePath();
        if (parser.isSet(link)) {
            if (const auto failure = placeLink(parser.value(link), ptyLine->processBoundPath())) fail(*failure);
            linkPath = parser.value(link);
        }
        // Alone on the first line, once the link is in place too, so that a script can read it
        // and link the port to it.
        std::printf("%s\n", qPrintable(lineName));
        std::fflush(stdout);
        QObject::connect(ptyLine.get(), &PtyLine::received, &monitor, [&monitor, &echo, line = ptyLine.get()](const QByteArray& bytes) {
            monitor.take(bytes);
            if (echo) line->send(echo->respond(bytes));
        });

    } else {
        lineName = devices.front();
        device = openDevice(lineName, monitor, echo.get());
    }

    std::unique_ptr<VirtualPanel> panel;
    if (parser.isSet(window)) {
        panel = std::make_unique<VirtualPanel>(lineName);
        QObject::connect(&monitor, &WireMonitor::logged, panel.get(), &VirtualPanel::appendLog);
        QObject::connect(&monitor, &WireMonitor::matrixShown, panel.get(), &VirtualPanel::showMatrix);
        QObject::connect(&monitor, &WireMonitor::silenceChanged, panel.get(), &VirtualPanel::showSilence);
        auto* ageClock = new QTimer(panel.get());
        QObject::connect(ageClock, &QTimer::timeout, panel.get(), [&monitor, p = panel.get()] {
            p->showAge(monitor.hasSeenValidFrame() ? std::optional(monitor.secondsSinceValidFrame()) : std::nullopt);
        });
        ageClock->start(500);
        panel->showAge(std::nullopt);
        if (echo) panel->controlEcho(*echo);
        if (parser.isSet(besideProgram)) placeBesideProgram(*panel);
        panel->show();
    }

    QCoreApplication::exec();
    monitor.finish();
    // Gone with the monitor: the link would dangle anyway, and now it does not linger.
    if (!linkPath.isEmpty() && ptyLine && QFile::symLinkTarget(linkPath) == ptyLine->processBoundPath()) QFile::remove(linkPath);
    return 0;
}
