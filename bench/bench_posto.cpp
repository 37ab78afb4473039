// SPDX-License-Identifier: GPL-3.0-or-later
// The post without a screen as a service: how long systemd's watchdog takes to have a hung post
// running again, and how long after race control is lost the safe state's "Parar" is on the line.
// This program plays the service manager: it reads the post's NOTIFY_SOCKET, and when a whole
// WatchdogSec passes without a WATCHDOG=1 it kills the post and starts it again, as systemd does
// (its SIGABRT first, then SIGKILL, is one kill here: the post is stopped and cannot answer).
#include "frames.h"
#include "mqtt_broker.h"
#include "notify_socket.h"
#include "program_home.h"
#include "pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

constexpr int watchdogMs = 1000;

QProcessEnvironment serviceEnvironment(const ProgramHome& home)
{
    QProcessEnvironment env = home.environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home.dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("NOTIFY_SOCKET"), home.dir.filePath(QStringLiteral("notify")));
    env.insert(QStringLiteral("WATCHDOG_USEC"), QString::number(watchdogMs * 1000));
    return env;
}

// From the hang to the restarted post's READY=1: {detected after, ready after}, in ms.
std::pair<double, double> watchdogRestart()
{
    ProgramHome home;
    PtyPair line;
    (void)home.linkPort(1, QString::fromStdString(line.slavePath()));
    const NotifySocket notify(home.dir.filePath(QStringLiteral("notify")));
    QProcess post;
    post.setProcessEnvironment(serviceEnvironment(home));
    post.start(QStringLiteral(POSTO_PATH));
    if (notify.until("READY=1", 10000).empty()) return {-1, -1};
    (void)notify.until("WATCHDOG=1", watchdogMs);
    ::kill(pid_t(post.processId()), SIGSTOP);
    QElapsedTimer hung;
    hung.start();
    // The manager counts WatchdogSec from the last WATCHDOG=1 it heard.
    while (!notify.next(watchdogMs).empty()) hung.restart();
    const double detected = double(hung.nsecsElapsed()) / 1e6;
    post.kill();
    post.waitForFinished();
    post.start(QStringLiteral(POSTO_PATH));
    const bool ready = !notify.until("READY=1", 10000).empty();
    const double readyMs = double(hung.nsecsElapsed()) / 1e6;
    post.kill();
    post.waitForFinished();
    return {detected, ready ? readyMs : -1};
}

// From the broker's end to the last byte of "Parar" on the line, with apos_s = 1: a broker that
// ends (its connections closed), or one that falls silent (stopped: as a cut cable, no word).
double safeStateDelay(bool silent)
{
    MqttBroker broker;
    ProgramHome home;
    PtyPair line;
    (void)home.linkPort(1, QString::fromStdString(line.slavePath()));
    QFile conf(home.config() + QStringLiteral("/painel-sinaletico.conf"));
    if (!conf.open(QIODevice::WriteOnly)) return -1;
    conf.write(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-b\n[seguranca]\nao_perder_central=parar\napos_s=1\n").arg(broker.port).toUtf8());
    conf.close();
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-b/info");
    QProcess post;
    post.setProcessEnvironment(serviceEnvironment(home));
    post.start(QStringLiteral(POSTO_PATH));
    (void)line.read(57, 10000);
    if (!QTest::qWaitFor([&] { return !site.on("painel-sinaletico/posto-b/info").empty(); }, 10000)) return -1;
    QElapsedTimer lost;
    lost.start();
    if (silent) ::kill(pid_t(broker.process.processId()), SIGSTOP);
    else broker.stop();
    const std::size_t parar = frames::sign[0].size() / 3 + 1;
    const bool stopped = line.read(parar, 20000).size() == parar;
    const double ms = double(lost.nsecsElapsed()) / 1e6;
    if (silent) ::kill(pid_t(broker.process.processId()), SIGCONT);
    post.kill();
    post.waitForFinished();
    return stopped ? ms : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<double> detected, ready, safe, silent;
    for (int i = 0; i < runs; ++i) {
        const auto [d, r] = watchdogRestart();
        detected.push_back(d), ready.push_back(r);
        safe.push_back(safeStateDelay(false));
        silent.push_back(safeStateDelay(true));
    }
    std::printf("| painel-posto hung: watchdog noticed, then running again (READY=1), median of %d | %.0f ms | %.0f ms (WatchdogSec) | %.2f |\n", runs,
                median(ready), double(watchdogMs), median(ready) / watchdogMs);
    std::printf("| of which: the hang noticed | %.0f ms | %.0f ms | — |\n", median(detected), double(watchdogMs));
    std::printf("| safe state: broker lost to the last byte of \"Parar\" on the line, apos_s = 1, median of %d | %.0f ms | 1000 ms (+ 1 s allowed) | %.2f |\n",
                runs, median(safe), median(safe) / 1000);
    std::printf("| safe state: broker fallen silent (stopped) to the last byte of \"Parar\", keep-alive 5 s, apos_s = 1, median of %d | %.0f ms | "
                "1000 ms + the keep-alive's 5 to 7.5 s | — |\n",
                runs, median(silent));
}
