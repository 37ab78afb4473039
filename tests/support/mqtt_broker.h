// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstdint>
#include <cstdlib>

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

    // `persistent`: what it retains is kept on disk across a stop and a start. `listener`: more
    // of its listener's settings (TLS, passwords), in mosquitto.conf's words.
    explicit MqttBroker(bool persistent = false, const QString& listener = QStringLiteral("allow_anonymous true\n"))
    {
        // A port the kernel finds free, given back for the broker to take.
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(probe);
        // Mosquitto started by root saves as the user mosquitto.
        if (persistent)
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::WriteOther | QFileDevice::ExeOther);
        QFile conf(dir.filePath("mosquitto.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(
                QStringLiteral("listener %1 127.0.0.1\n%4persistence %2\npersistence_location %3/\n").arg(port).arg(persistent ? "true" : "false", dir.path(), listener).toUtf8());
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
        return QTest::qWaitFor(
            [&] {
                mosquitto* probe = mosquitto_new(nullptr, true, nullptr);
                const bool up = mosquitto_connect(probe, "127.0.0.1", port, 5) == MOSQ_ERR_SUCCESS;
                mosquitto_destroy(probe);
                return up;
            },
            5000);
    }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(3000)) process.kill();
        process.waitForFinished(3000);
    }
};

// A certificate authority of the test's own, another one nobody trusts, and certificates the first
// signed for localhost and for another host; made with openssl, readable by the broker (which
// root starts as the user mosquitto).
struct TestCertificates {
    QTemporaryDir dir;
    bool made = false;

    TestCertificates()
    {
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
        const auto openssl = [&](const QStringList& arguments) {
            QProcess p;
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral("openssl"), arguments);
            return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        const auto authority = [&](const QString& name) {
            return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name, "-keyout", name + ".key", "-out", name + ".crt"});
        };
        const auto signedFor = [&](const QString& name, const QString& altNames) {
            QFile ext(dir.filePath(name + ".ext"));
            return ext.open(QIODevice::WriteOnly) && ext.write(("subjectAltName=" + altNames + "\n").toUtf8()) > 0 && (ext.close(), true)
                   && openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", name + ".key", "-out", name + ".csr"})
                   && openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out",
                               name + ".crt"});
        };
        made = authority("ca") && authority("other") && signedFor("localhost", "DNS:localhost,IP:127.0.0.1") && signedFor("elsewhere", "DNS:broker.example.org");
        for (const QString& key : QDir(dir.path()).entryList({"*.key"})) QFile::setPermissions(dir.filePath(key), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    }
    [[nodiscard]] QString path(const QString& name) const { return dir.filePath(name); }
    // A listener's TLS settings, serving `certificate`.
    [[nodiscard]] QString listener(const QString& certificate) const
    {
        return QStringLiteral("allow_anonymous true\ncafile %1\ncertfile %2.crt\nkeyfile %2.key\n").arg(path("ca.crt"), path(certificate));
    }
};

// A client on the test's side: publishes, and keeps what arrives on the topics it follows.
struct MqttClient {
    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
        std::string correlation; // MQTT 5
    };
    mosquitto* client = nullptr;
    mutable std::mutex mutex;
    std::vector<Message> received;

    // Anonymous, or as `user` with `password`; MQTT 3.1.1, or 5; with a last will `will` (topic,
    // payload), retained, when given.
    explicit MqttClient(int port, const char* user = nullptr, const char* password = nullptr, bool mqtt5 = false, std::pair<std::string, std::string> will = {})
    {
        mosquitto_lib_init();
        client = mosquitto_new(nullptr, true, this);
        if (user != nullptr) mosquitto_username_pw_set(client, user, password);
        if (!will.first.empty()) mosquitto_will_set(client, will.first.c_str(), int(will.second.size()), will.second.data(), 1, true);
        if (mqtt5) mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_message_v5_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property* properties) {
            auto* me = static_cast<MqttClient*>(self);
            void* data = nullptr;
            std::uint16_t length = 0;
            mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length, false);
            const std::lock_guard lock(me->mutex);
            me->received.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), std::size_t(m->payloadlen)), m->retain, std::string(static_cast<const char*>(data), length)});
            std::free(data);
        });
        mosquitto_connect(client, "127.0.0.1", port, 30);
        mosquitto_loop_start(client);
    }
    ~MqttClient()
    {
        if (client == nullptr) return;
        mosquitto_disconnect(client);
        mosquitto_loop_stop(client, false);
        mosquitto_destroy(client);
    }
    // The connection lost, as by a crash or a cut cable: no goodbye, so the broker sends the will.
    void drop()
    {
        mosquitto_loop_stop(client, true);
        mosquitto_destroy(client);
        client = nullptr;
    }
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    void subscribe(const std::string& topic) { mosquitto_subscribe(client, nullptr, topic.c_str(), 1); }
    bool publish(const std::string& topic, const std::string& payload, int qos = 1, bool retain = false)
    {
        return mosquitto_publish(client, nullptr, topic.c_str(), int(payload.size()), payload.data(), qos, retain) == MOSQ_ERR_SUCCESS;
    }
    // A request under MQTT 5, its answer wanted on `replyTo` with `correlation`.
    bool request(const std::string& topic, const std::string& payload, const std::string& replyTo, const std::string& correlation)
    {
        mosquitto_property* properties = nullptr;
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, replyTo.c_str());
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(), std::uint16_t(correlation.size()));
        const int code = mosquitto_publish_v5(client, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1, false, properties);
        mosquitto_property_free_all(&properties);
        return code == MOSQ_ERR_SUCCESS;
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
