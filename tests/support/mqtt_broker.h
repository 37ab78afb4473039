#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <mosquitto.h>

#include <mutex>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A Mosquitto broker of the test's own on a free loopback port; stop() and start() again keep
// the port, as a broker restarted on a site would.
struct MqttBroker {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    // `persistent`: what it retains is kept on disk across a stop and a start.
    explicit MqttBroker(bool persistent = false)
    {
        // A port the kernel finds free, given back for the broker to take.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(probe);
        // Mosquitto started by root saves as the user mosquitto.
        if (persistent) QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                              | QFileDevice::WriteOther | QFileDevice::ExeOther);
        QFile conf(dir.filePath("mosquitto.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence %2\npersistence_location %3/\n")
                           .arg(port).arg(persistent ? "true" : "false", dir.path()).toUtf8());
        conf.close();
        start();
    }
    ~MqttBroker() { stop(); }
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    bool start()
    {
        process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), dir.filePath("mosquitto.conf")});
        if (!process.waitForStarted(5000)) return false;
        // Ready once it accepts connections.
        return QTest::qWaitFor([&] {
            mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
            const bool up = mosquitto_connect(probe, "127.0.0.1", port, 5) == MOSQ_ERR_SUCCESS;
            mosquitto_destroy(probe);
            return up;
        }, 5000);
    }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(3000)) process.kill();
        process.waitForFinished(3000);
    }
};

// A client on the test's side: publishes, and keeps what arrives on the topics it follows.
struct MqttClient {
    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
    };
    mosquitto* client = nullptr;
    mutable std::mutex mutex;
    std::vector<Message> received;

    explicit MqttClient(int port)
    {
        mosquitto_lib_init();
        client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* me = static_cast<MqttClient*>(self);
            const std::lock_guard lock(me->mutex);
            me->received.push_back({m->topic, std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen)), m->retain});
        });
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_loop_start(client);
    }
    ~MqttClient()
    {
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void subscribe(const std::string& topic) { mosquitto_subscribe(client, nullptr, topic.c_str(), 1); }
    bool publish(const std::string& topic, const std::string& payload, int qos = 1, bool retain = false)
    {
        return mosquitto_publish(client, nullptr, topic.c_str(), int(payload.size()), payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
    }
    // What arrived on `topic`, oldest first.
    [[nodiscard]] std::vector<Message> on(const std::string& topic) const
    {
        const std::lock_guard lock(mutex);
        std::vector<Message> found;
        for (const Message& m : received)
            if (m.topic == topic) found.push_back(m);
        return found;
    }
};
