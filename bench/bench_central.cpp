// SPDX-License-Identifier: GPL-3.0-or-later
// The control room on one loopback Mosquitto broker.
// 1. Twenty posts, each a painel-sinaletico process offscreen on a pseudo-terminal of its own:
//    from a click on "PARAR EM TODOS" to the last byte on the slowest post's line, and to the
//    last confirmation shown; 100 rounds, beside a local click's time to its last byte (the
//    program's sign display on its own pseudo-terminal) in the same run, one of each a round.
// 2. Two hundred posts simulated by a client publishing their retained topics, then a state
//    change from each of them every two seconds for ten seconds: painel-central's memory and CPU
//    time, and how late its event loop ran a 10 ms probe.
#include "bench_line.h"
#include "central_window/central_program.h"
#include "central_window/post_tile.h"
#include "mqtt_broker.h"
#include "program_home.h"
#include "serial/qt_serial_port.h"
#include "stalled_line.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr int rounds = 100;
constexpr int simulatedPosts = 200;
constexpr std::size_t stopBytes = 43;

// Runs the window's event loop until `done` or `seconds` have passed, looking every millisecond.
bool runUntil(const std::function<bool()>& done, double seconds)
{
    const double start = now();
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || now() - start > seconds) loop.quit();
    });
    check.start(1);
    if (!done()) loop.exec();
    return done();
}

std::unique_ptr<CentralProgram> centralOn(const QTemporaryDir& home, int brokerPort, Journal& journal)
{
    QFile conf(home.filePath("painel-central.conf"));
    if (!conf.open(QIODevice::WriteOnly)) return nullptr;
    conf.write(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=central\n").arg(brokerPort).toUtf8());
    conf.close();
    auto central = std::make_unique<CentralProgram>(home.filePath("painel-central.conf"), &journal);
    central->window.show();
    central->startLink();
    return central;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory now, from /proc.
double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> pages = statm.readAll().split(' ');
    return pages.size() < 2 ? 0 : pages[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

int stopEveryPost(int posts)
{
    MqttBroker broker(false, QStringLiteral("allow_anonymous true\nset_tcp_nodelay true\n"));
    BenchLine local;
    QtSerialPort port;
    BenchDisplay rig(port);
    std::vector<std::unique_ptr<BenchLine>> lines;
    std::vector<std::unique_ptr<ProgramHome>> homes;
    std::vector<std::unique_ptr<QProcess>> programs;
    for (int i = 0; i < posts; ++i) {
        lines.push_back(std::make_unique<BenchLine>(false));
        homes.push_back(std::make_unique<ProgramHome>());
        if (!homes.back()->linkPort(1, QString::fromStdString(lines.back()->device()))) return 1;
        QFile conf(homes.back()->config() + "/painel-sinaletico.conf");
        if (!conf.open(QIODevice::WriteOnly)) return 1;
        conf.write(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-%2\n").arg(broker.port).arg(i + 1, 2, 10, QLatin1Char('0')).toUtf8());
        conf.close();
        programs.push_back(std::make_unique<QProcess>());
        programs.back()->setProcessEnvironment(homes.back()->environment());
        programs.back()->start(QStringLiteral(PROGRAM_PATH), {});
    }
    QTemporaryDir home;
    Journal journal(home.filePath("registo-central.sqlite"));
    const auto central = centralOn(home, broker.port, journal);
    const auto everyPostUp = [&] {
        int up = 0;
        for (const auto& [id, post] : central->board.posts()) up += post.online && post.sign.has_value();
        return up == posts;
    };
    if (!central || !runUntil(everyPostUp, 60)) {
        std::fprintf(stderr, "bench_central: the %d posts did not all come up\n", posts);
        return 1;
    }
    auto* summary = central->window.findChild<QLabel*>("summary");
    const QString allConfirmed = QStringLiteral("Parar: %1 de %1 confirmados").arg(posts);
    std::vector<double> lastByte, lastConfirmation, click;
    for (int round = 0; round < rounds; ++round) {
        runUntil([] { return false; }, 0.25); // the posts take five signs a second at most
        std::vector<std::size_t> targets;
        for (const auto& line : lines) targets.push_back(line->received() + stopBytes);
        const double start = now();
        double confirmedAt = 0;
        central->window.stopAllButton().click();
        const bool done = runUntil(
            [&] {
                // Shown: the board has them all, and the window says so.
                if (confirmedAt == 0 && central->board.summary() == allConfirmed && summary->text() == allConfirmed) confirmedAt = now();
                for (std::size_t i = 0; i < lines.size(); ++i)
                    if (lines[i]->received() < targets[i]) return false;
                return confirmedAt != 0;
            },
            5);
        if (!done) {
            std::fprintf(stderr, "bench_central: round %d did not end: %s\n", round, qPrintable(summary->text()));
            return 1;
        }
        double slowest = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) slowest = std::max(slowest, lines[i]->timesReaching({targets[i]}).front());
        lastByte.push_back((slowest - start) * 1000);
        lastConfirmation.push_back((confirmedAt - start) * 1000);
        // A local click, as the operator at a post makes it.
        const std::size_t target = local.received() + stopBytes;
        const double clicked = now();
        rig.session.chooseSign(Sign::Stop, Origin::Mouse);
        if (!runUntil([&] { return local.received() >= target; }, 5)) return 1;
        click.push_back((local.timesReaching({target}).front() - clicked) * 1000);
    }
    for (auto& program : programs) {
        program->terminate();
        program->waitForFinished(5000);
    }
    const Spread bytes = spreadOf(lastByte), confirmed = spreadOf(lastConfirmation), local1 = spreadOf(click);
    std::printf("| \"Parar em todos\" to the last byte on the slowest of %d posts' lines, median of %d vs a local click's | %.1f ms | %.1f ms | %.2f |\n",
                posts, rounds, bytes.median, local1.median, bytes.median / local1.median);
    std::printf("| the same, 99th percentile vs a local click's | %.1f ms | %.1f ms | %.2f |\n", bytes.p99, local1.p99, bytes.p99 / local1.p99);
    std::printf("| \"Parar em todos\" to the last of %d confirmations shown, median; 99th percentile | %.1f ms | %.1f ms | — |\n", posts, confirmed.median,
                confirmed.p99);
    return 0;
}

int simulatedSite()
{
    MqttBroker broker;
    MqttClient site(broker.port);
    const auto state = [](const char* sign) {
        return QStringLiteral(R"({"sinal":"%1","modo":"multicor","cor":"","hora":"%2","resultado":"enviado","origem":"rato","pedido":""})")
            .arg(QLatin1String(sign), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
            .toStdString();
    };
    for (int i = 0; i < simulatedPosts; ++i) {
        const std::string base = "painel-sinaletico/sim-" + std::to_string(i) + "/";
        site.publish(base + "estado", "online", 1, true);
        site.publish(base + "info",
                     R"({"nome":"Posto )" + std::to_string(i) + R"(","versao":"1.3.0","porta":"COM1","dispositivo":"/dev/ttyUSB0","modo":"multicor","cor":""})",
                     1, true);
        site.publish(base + "sinal", state("Frente"), 1, true);
    }
    QTemporaryDir home;
    Journal journal(home.filePath("registo-central.sqlite"));
    // The window with no post yet, for comparison.
    double emptyMb = 0;
    {
        MqttBroker empty;
        const auto bare = centralOn(home, empty.port, journal);
        runUntil([&] { return bare->client() != nullptr && bare->client()->isConnected(); }, 10);
        runUntil([] { return false; }, 0.5);
        emptyMb = residentMegabytes();
    }
    const double cpuBefore = cpuSeconds();
    const double start = now();
    const auto central = centralOn(home, broker.port, journal);
    if (!central || !runUntil([&] { return central->board.posts().size() == std::size_t(simulatedPosts) && central->window.tile("sim-199") != nullptr; }, 30)) {
        std::fprintf(stderr, "bench_central: the %d simulated posts were not all shown\n", simulatedPosts);
        return 1;
    }
    const double shown = (now() - start) * 1000;
    // Every post changes its sign every two seconds, spread evenly: 100 messages a second.
    const EventLoopProbe probe;
    const double busyStart = cpuSeconds();
    int published = 0;
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const int i = published % simulatedPosts;
        site.publish("painel-sinaletico/sim-" + std::to_string(i) + "/sinal", state(published / simulatedPosts % 2 ? "Parar" : "Xadrez"), 1, true);
        ++published;
    });
    pace.start(10);
    runUntil([] { return false; }, 10);
    pace.stop();
    const double busyCpu = cpuSeconds() - busyStart;
    std::printf("| painel-central with %d simulated posts: retained topics to every tile shown | %.0f ms | — | — |\n", simulatedPosts, shown);
    std::printf("| the same: resident memory vs the window with no post | %.1f MiB | %.1f MiB | %.2f |\n", residentMegabytes(), emptyMb,
                residentMegabytes() / emptyMb);
    std::printf("| the same, %d state changes a second for 10 s: CPU time | %.1f %% of a core | start-up %.2f s | — |\n", 100, busyCpu * 10,
                busyStart - cpuBefore);
    std::printf("| the same: event loop, longest gap of a 10 ms probe; total late | %lld ms | %lld ms | — |\n", static_cast<long long>(probe.longest),
                static_cast<long long>(probe.blocked));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Each part in a process of its own, so that one's memory is not the other's: this one
    // runs the second part when asked.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--simulated"))) return simulatedSite();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--posts")); at > 0 && at + 1 < arguments.size()) return stopEveryPost(arguments[at + 1].toInt());
    if (const int failed = stopEveryPost(20)) return failed;
    std::fflush(stdout); // this part's rows before the other's
    QProcess simulated;
    simulated.setProcessChannelMode(QProcess::ForwardedChannels);
    simulated.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--simulated")});
    return simulated.waitForFinished(120'000) && simulated.exitCode() == 0 ? 0 : 1;
}
