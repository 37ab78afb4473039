// SPDX-License-Identifier: GPL-3.0-or-later
// The control room on one loopback Mosquitto broker.
// 1. Twenty posts, each a painel-sinaletico process offscreen on a pseudo-terminal of its own:
//    from a click on "PARAR EM TODOS" to the last byte on the slowest post's line, and to the
//    last confirmation shown; 100 rounds, beside a local click's time to its last byte (the
//    program's sign display on its own pseudo-terminal) in the same run, one of each a round.
// 2. A thousand posts (the most the control room takes) simulated by a client publishing their
//    retained topics, then 500 state changes a second for ten seconds: painel-central's memory
//    and CPU time, and how late its event loop ran a 10 ms probe; then "PARAR EM TODOS" to the
//    last of the thousand confirmations shown, the simulator answering each request as a post
//    does, by the state it leaves.
// 3. A post and the control room on two bridged brokers: the one they use killed, to each
//    connected to the other, 20 times.
#include "bench_line.h"
#include "central_window/central_program.h"
#include "central_window/post_tile.h"
#include "mqtt_broker.h"
#include "program_home.h"
#include "serial/qt_serial_port.h"
#include "stalled_line.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

namespace {

constexpr int rounds = 100;
constexpr int simulatedPosts = 1000;
constexpr int changesPerSecond = 500;
constexpr int failovers = 20;
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
        if (i % 100 == 0) runUntil([] { return false; }, 0.05); // the broker's queue for a client is 1,000 long
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
    const std::string lastPost = "sim-" + std::to_string(simulatedPosts - 1);
    if (!central
        || !runUntil(
            [&] { return central->board.posts().size() == std::size_t(simulatedPosts) && central->window.tile(QString::fromStdString(lastPost)) != nullptr; },
            60)) {
        std::fprintf(stderr, "bench_central: the %d simulated posts were not all shown\n", simulatedPosts);
        return 1;
    }
    const double shown = (now() - start) * 1000;
    // State changes spread evenly, five every 10 ms.
    const double busyStart = cpuSeconds();
    long long longest = 0, late = 0;
    {
        const EventLoopProbe probe;
        int published = 0;
        QTimer pace;
        pace.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pace, &QTimer::timeout, [&] {
            for (int n = 0; n < changesPerSecond / 100; ++n, ++published)
                site.publish("painel-sinaletico/sim-" + std::to_string(published % simulatedPosts) + "/sinal",
                             state(published / simulatedPosts % 2 ? "Parar" : "Xadrez"), 1, true);
        });
        pace.start(10);
        runUntil([] { return false; }, 10);
        pace.stop();
        longest = probe.longest;
        late = probe.blocked;
    }
    const double busyCpu = cpuSeconds() - busyStart;
    const double memory = residentMegabytes();

    // Each request answered as a post answers it: by its state, with the request's id. The
    // site's stop, which names no post, is every post's.
    runUntil([] { return false; }, 1);
    mosquitto* simulator = mosquitto_new(nullptr, true, nullptr);
    mosquitto_message_callback_set(simulator, [](mosquitto* client, void*, const mosquitto_message* message) {
        const QJsonObject request = QJsonDocument::fromJson(QByteArray(static_cast<const char*>(message->payload), message->payloadlen)).object();
        const QString topic = QString::fromUtf8(message->topic);
        const auto answer = [&](const QString& id) {
            const QByteArray payload =
                QStringLiteral(R"({"sinal":"Parar","modo":"multicor","cor":"","hora":"%1","resultado":"enviado","origem":"central","pedido":"%2"})")
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), request["pedido"].toString())
                    .toUtf8();
            mosquitto_publish(client, nullptr, ("painel-sinaletico/" + id + "/sinal").toUtf8().constData(), int(payload.size()), payload.constData(), 1, true);
        };
        if (topic == QLatin1String("painel-central/parar")) return; // each post's own request comes too, and is what it answers
        answer(topic.section(QLatin1Char('/'), 1, 1));
    });
    mosquitto_connect(simulator, "127.0.0.1", broker.port, 60);
    mosquitto_subscribe(simulator, nullptr, "painel-sinaletico/+/sinal/set", 1);
    mosquitto_loop_start(simulator);
    runUntil([] { return false; }, 0.5);
    auto* summary = central->window.findChild<QLabel*>("summary");
    const QString allConfirmed = QStringLiteral("Parar: %1 de %1 confirmados").arg(simulatedPosts);
    const double stopAt = now();
    central->window.stopAllButton().click();
    const bool confirmed = runUntil([&] { return summary->text() == allConfirmed; }, 10);
    const double stopMs = (now() - stopAt) * 1000;
    mosquitto_disconnect(simulator);
    mosquitto_loop_stop(simulator, false);
    mosquitto_destroy(simulator);
    if (!confirmed) {
        std::fprintf(stderr, "bench_central: the stop was not confirmed by every simulated post: %s\n", qPrintable(summary->text()));
        return 1;
    }
    std::printf("| painel-central with %d simulated posts: retained topics to every tile shown | %.0f ms | — | — |\n", simulatedPosts, shown);
    std::printf("| the same: resident memory vs the window with no post | %.1f MiB | %.1f MiB | %.2f |\n", memory, emptyMb, memory / emptyMb);
    std::printf("| the same, %d state changes a second for 10 s: CPU time | %.1f %% of a core | start-up %.2f s | — |\n", changesPerSecond, busyCpu * 10,
                busyStart - cpuBefore);
    std::printf("| the same: event loop, longest gap of a 10 ms probe; total late | %lld ms | %lld ms | — |\n", longest, late);
    std::printf("| the same: \"PARAR EM TODOS\" to the last of %d confirmations shown (the simulator answers as posts do) | %.0f ms | — | — |\n",
                simulatedPosts, stopMs);
    return 0;
}

// Two brokers, the second bridged to the first; a post (a painel-sinaletico process) and the
// control room on both, in that order. Each round kills the broker they use and times each's
// connection to the other, then starts the killed one again.
int failover()
{
    MqttBroker second;
    MqttBroker first(false, QStringLiteral("allow_anonymous true\nconnection ponte\naddress 127.0.0.1:%1\ntopic painel-sinaletico/# both 1\n"
                                           "topic painel-central/# both 1\n")
                                .arg(second.port));
    const QString brokers = QStringLiteral("127.0.0.1:%1,127.0.0.1:%2").arg(first.port).arg(second.port);
    BenchLine line(false);
    ProgramHome postHome;
    QFile conf(postHome.config() + "/painel-sinaletico.conf");
    if (!postHome.linkPort(1, QString::fromStdString(line.device())) || !conf.open(QIODevice::WriteOnly)) return 1;
    conf.write(QStringLiteral("[mqtt]\nhost=\"%1\"\nid=posto-1\n").arg(brokers).toUtf8());
    conf.close();
    QProcess post;
    post.setProcessEnvironment(postHome.environment());
    post.start(QStringLiteral(PROGRAM_PATH), {});
    QTemporaryDir home;
    QFile centralConf(home.filePath("painel-central.conf"));
    if (!centralConf.open(QIODevice::WriteOnly)) return 1;
    centralConf.write(QStringLiteral("[mqtt]\nhost=\"%1\"\nid=central\n").arg(brokers).toUtf8());
    centralConf.close();
    Journal journal(home.filePath("registo-central.sqlite"));
    CentralProgram central(home.filePath("painel-central.conf"), &journal);
    central.startLink();
    // The post is on a broker when the control room, on the same one, has it online from there.
    MqttBroker* brokersInOrder[] = {&first, &second};
    const auto onBroker = [&](int which, bool postToo) {
        const MqttConnection* link = central.client();
        if (link == nullptr || !link->isConnected() || link->broker().port != brokersInOrder[which]->port) return false;
        const Post* seen = central.board.post(QStringLiteral("posto-1"));
        return !postToo || (seen != nullptr && seen->online && seen->stateKnown);
    };
    if (!runUntil([&] { return onBroker(0, true); }, 30)) {
        std::fprintf(stderr, "bench_central: the post and the control room did not connect\n");
        return 1;
    }
    std::vector<double> toCentral, toPost;
    int using_ = 0;
    for (int round = 0; round < failovers; ++round) {
        MqttClient watcher(brokersInOrder[1 - using_]->port);
        watcher.subscribe("painel-sinaletico/posto-1/estado");
        runUntil([&] { return !watcher.on("painel-sinaletico/posto-1/estado").empty(); }, 5);
        const std::size_t before = watcher.on("painel-sinaletico/posto-1/estado").size();
        const double killed = now();
        brokersInOrder[using_]->process.kill();
        brokersInOrder[using_]->process.waitForFinished(3000);
        double centralAt = 0, postAt = 0;
        // The post says "online" again once it is connected to the other broker.
        const bool moved = runUntil(
            [&] {
                if (centralAt == 0 && onBroker(1 - using_, false)) centralAt = now();
                if (postAt == 0 && watcher.on("painel-sinaletico/posto-1/estado").size() > before
                    && watcher.on("painel-sinaletico/posto-1/estado").back().payload == "online")
                    postAt = now();
                return centralAt != 0 && postAt != 0;
            },
            20);
        if (!moved) {
            std::fprintf(stderr, "bench_central: round %d: the post or the control room did not move to the other broker\n", round);
            return 1;
        }
        toCentral.push_back((centralAt - killed) * 1000);
        toPost.push_back((postAt - killed) * 1000);
        if (!brokersInOrder[using_]->start()) return 1;
        using_ = 1 - using_;
        runUntil([] { return false; }, 1); // the bridge up again
    }
    post.terminate();
    post.waitForFinished(5000);
    const Spread p = spreadOf(toPost), c = spreadOf(toCentral);
    std::printf("| failover: broker killed to the post reconnected (its \"online\" on the other broker), median; worst of %d | %.0f ms | %.0f ms | — |\n",
                failovers, p.median, *std::max_element(toPost.begin(), toPost.end()));
    std::printf("| failover: broker killed to the control room reconnected, median; worst of %d | %.0f ms | %.0f ms | — |\n", failovers, c.median,
                *std::max_element(toCentral.begin(), toCentral.end()));
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
    if (arguments.contains(QStringLiteral("--failover"))) return failover();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--posts")); at > 0 && at + 1 < arguments.size()) return stopEveryPost(arguments[at + 1].toInt());
    if (const int failed = stopEveryPost(20)) return failed;
    std::fflush(stdout); // this part's rows before the other's
    QProcess simulated;
    simulated.setProcessChannelMode(QProcess::ForwardedChannels);
    simulated.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--simulated")});
    if (!simulated.waitForFinished(300'000) || simulated.exitCode() != 0) return 1;
    simulated.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--failover")});
    return simulated.waitForFinished(300'000) && simulated.exitCode() == 0 ? 0 : 1;
}
