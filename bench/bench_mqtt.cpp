// SPDX-License-Identifier: GPL-3.0-or-later
// A sign from a site's controller: published on a Mosquitto broker on loopback, to its last byte
// on the line, through the program's MQTT client, the sign display and the product's port on a
// pseudo-terminal; beside a click's own time, handler to last byte, in the same run. 200 signs
// each, "Parar" and "Frente" in turn, a quarter of a second apart (the client takes at most
// five signs a second).
#include "bench_line.h"
#include "fake_serial_port.h"
#include "mqtt_broker.h"
#include "remote/post_mqtt_client.h"
#include "serial/qt_serial_port.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int signs = 200;
constexpr std::size_t signBytes = 43;

// Runs `send` for each sign in turn and times it to the sign's last byte on the line.
std::vector<double> timeToLine(BenchLine& line, const std::function<void(Sign)>& send)
{
    std::vector<double> ms;
    for (int i = 0; i < signs; ++i) {
        const std::size_t target = line.received() + signBytes;
        const double start = now();
        send(i % 2 == 0 ? Sign{0} : Sign{1});
        // The window's own event loop, which wakes at once for a sign queued by the network
        // thread (QTest::qWaitFor would look only every 10 ms).
        QEventLoop loop;
        QTimer check;
        check.setTimerType(Qt::PreciseTimer);
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (line.received() >= target || now() - start > 5) loop.quit();
        });
        check.start(1);
        loop.exec();
        if (line.received() < target) return {};
        ms.push_back((line.timesReaching({target}).front() - start) * 1000);
        QTest::qWait(250);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchLine line;
    MqttBroker broker;

    QtSerialPort port;
    BenchDisplay rig(port);
    PanelSession& display = rig.session;

    MqttSettings mqtt;
    mqtt.host = QStringLiteral("127.0.0.1");
    mqtt.port = broker.port;
    mqtt.id = QStringLiteral("bench");
    PostMqttClient client(
        mqtt,
        [&](Sign kind, Origin origin, const QString& request, const QString&, int) {
            return PostMqttClient::Outcome{display.chooseSign(kind, origin, request)};
        },
        nullptr);
    MqttClient site(broker.port);
    if (client.start() || !QTest::qWaitFor([&] { return client.isConnected(); }, 10000)) {
        std::fprintf(stderr, "bench_mqtt: no broker\n");
        return 1;
    }
    const std::vector<double> clicks = timeToLine(line, [&](Sign kind) { display.chooseSign(kind, Origin::Mouse); });
    const std::vector<double> published =
        timeToLine(line, [&](Sign kind) { site.publish("painel-sinaletico/bench/sinal/set", kind == Sign::Stop ? "Parar" : "Frente"); });
    if (clicks.size() != signs || published.size() != signs) return 1;
    const Spread click = spreadOf(clicks), remote = spreadOf(published);
    std::printf("| MQTT sign, publish on loopback to last byte on the line, median of %d vs a click's | %.3f ms | %.3f ms | %.2f |\n", signs, remote.median,
                click.median, remote.median / click.median);
    std::printf("| MQTT sign, 99th percentile vs a click's | %.3f ms | %.3f ms | %.2f |\n", remote.p99, click.p99, remote.p99 / click.p99);
}
