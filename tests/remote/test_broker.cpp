// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_broker.h"
#include "painel_version.h"
#include "post_rig.h"
#include "qt_printing.h"
#include "remote/post_mqtt_client.h"
#include "stalled_line.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct BrokerTest : ::testing::Test, PostRig {};

// Why the broker cannot be reached is said in Portuguese, in the status and once in the journal
// for each distinct cause (origin "remoto"), the library's words only in the detail; and the
// client keeps trying, TLS failures included, after which libmosquitto's own thread gives up.
TEST(PostMqttClient, EachConnectionFailureIsSaidInPortugueseAndJournaledOnce)
{
    QTemporaryDir dir;
    TestCertificates certificates;
    ASSERT_TRUE(certificates.made);
    QFile passwords(dir.filePath("passwords"));
    ASSERT_TRUE(passwords.open(QIODevice::WriteOnly));
    passwords.close();
    ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-b", passwords.fileName(), "posto", "certa"}), 0);
    passwords.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    MqttBroker trusted(false, certificates.listener("localhost"));
    MqttBroker elsewhere(false, certificates.listener("elsewhere"));
    MqttBroker guarded(false, "allow_anonymous false\npassword_file " + passwords.fileName() + "\n");
    MqttBroker gone;
    gone.stop();
    QFile wrongPassword(dir.filePath("senha"));
    ASSERT_TRUE(wrongPassword.open(QIODevice::WriteOnly) && wrongPassword.write("errada\n") > 0);
    wrongPassword.close();
    wrongPassword.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    const auto settings = [](const QString& host, int port) {
        MqttSettings m;
        m.host = host;
        m.port = port;
        m.id = "posto-1";
        return m;
    };
    MqttSettings untrusted = settings("localhost", trusted.port);
    untrusted.tls = true;
    untrusted.caFile = certificates.path("other.crt");
    MqttSettings misnamed = settings("localhost", elsewhere.port);
    misnamed.tls = true;
    misnamed.caFile = certificates.path("ca.crt");
    MqttSettings refused = settings("127.0.0.1", guarded.port);
    refused.user = "posto";
    refused.passwordFile = wrongPassword.fileName();
    const std::vector<std::pair<MqttSettings, QString>> cases{
        {untrusted, "o certificado do broker não é de uma autoridade em que se confia"},
        {misnamed, "o certificado do broker não é para localhost"},
        {refused, "nome ou palavra-passe recusados"},
        {settings("127.0.0.1", gone.port), QStringLiteral("não há broker em 127.0.0.1:%1").arg(gone.port)},
    };
    for (const auto& [mqtt, cause] : cases) {
        Journal journal(dir.filePath(QStringLiteral("registo-%1.sqlite").arg(mqtt.port)));
        PostMqttClient link(
            mqtt, [](Sign, Origin, const QString&) { return SendOutcome::Sent; }, &journal);
        QString status;
        QObject::connect(&link, &PostMqttClient::statusChanged, [&](const QString& s) { status = s; });
        ASSERT_EQ(link.start(), std::nullopt) << cause.toStdString();
        // Tried again with the same cause: said once.
        EXPECT_TRUE(QTest::qWaitFor([&] { return status.contains(cause + " (tentativa 2)"); }, 10000)) << status.toStdString();
        journal.flush();
        const QStringList rows = journalRows(journal.fileName(), "origem, resultado, motivo, pormenor, falha");
        ASSERT_EQ(rows.size(), 1) << rows.join("\n").toStdString();
        EXPECT_TRUE(rows[0].startsWith("remoto|MQTT desligado|" + cause + "|" + mqtt.host + ":" + QString::number(mqtt.port) + " como posto-1; libmosquitto: "))
            << rows[0].toStdString();
        EXPECT_TRUE(rows[0].endsWith("|1"));
    }
    MqttSettings missing = misnamed;
    missing.caFile = dir.filePath("nenhum.crt");
    EXPECT_EQ(PostMqttClient(missing, {}, nullptr).start(), "o ficheiro " + missing.caFile + " não existe (mqtt/ca_file)");
}

// With a broker set, a sign published on .../sinal/set goes as a click (origin "remoto") and the
// sign shown is published, retained; the broker going away during the animation and coming
// back is weathered, and the state published again; 10,000 malformed messages send nothing,
// leave the window responsive and are journaled once a burst.
TEST_F(BrokerTest, SignsFromABrokerGoAsClicksAndNothingMalformedGetsIn)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-1\n").arg(broker.port).toUtf8()));
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return post->mqtt.client() != nullptr && post->mqtt.client()->isConnected(); }, 10000));
    const auto follow = [&](MqttClient& site) {
        site.subscribe("painel-sinaletico/posto-1/#");
        return QTest::qWaitFor([&] { return !site.on("painel-sinaletico/posto-1/sinal").empty(); }, 10000);
    };
    const auto lastState = [](const MqttClient& site) {
        const auto states = site.on("painel-sinaletico/posto-1/sinal");
        return states.empty() ? QJsonObject() : QJsonDocument::fromJson(QByteArray::fromStdString(states.back().payload)).object();
    };
    auto site = std::make_unique<MqttClient>(broker.port);
    ASSERT_TRUE(follow(*site));
    EXPECT_EQ(site->on("painel-sinaletico/posto-1/estado").back().payload, "online");
    // Home Assistant is told of a post only when it asks to be.
    MqttClient homeAssistant(broker.port);
    homeAssistant.subscribe("homeassistant/#");
    homeAssistant.subscribe("painel-sinaletico/posto-1/estado");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !homeAssistant.on("painel-sinaletico/posto-1/estado").empty(); }, 5000));
    EXPECT_TRUE(homeAssistant.on("homeassistant/select/posto-1/sinal/config").empty());
    EXPECT_EQ(lastState(*site)["sinal"].toString(), "Parar");
    site->publish("painel-sinaletico/posto-9/sinal/set", "Esquerda"); // another post's
    for (const auto& [name, index] : {std::pair{"Frente", 1}, {"4", 2}, {"esquerda", 3}, {"xadrez", 4}}) {
        port.clearRecord();
        site->publish("painel-sinaletico/posto-1/sinal/set", name);
        EXPECT_TRUE(QTest::qWaitFor([&] { return port.sent().size() >= frames::sign[std::size_t(index)].size(); }, 5000)) << name;
        EXPECT_EQ(port.sent().substr(0, frames::sign[std::size_t(index)].size()), frames::sign[std::size_t(index)]) << name;
        EXPECT_TRUE((post->session.chosenSign() == Sign(index))) << name;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return lastState(*site)["sinal"].toString() == "Xadrez"; }, 5000));
    EXPECT_EQ(lastState(*site)["resultado"].toString() + "|" + lastState(*site)["modo"].toString(), "enviado|multicor");

    broker.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !post->mqtt.client()->isConnected(); }, 10000));
    EXPECT_TRUE(post->session.notes().contains("MQTT: sem ligação")) << post->session.notes().toStdString();
    port.clearRecord();
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return post->mqtt.client()->isConnected(); }, 20000));
    EXPECT_GT(port.sent().size(), frames::chequerTick1.size()); // the flag went on all along
    site = std::make_unique<MqttClient>(broker.port);           // the restarted broker kept nothing: all is published again
    ASSERT_TRUE(follow(*site));
    EXPECT_EQ(lastState(*site)["sinal"].toString(), "Xadrez");
    EXPECT_EQ(site->on("painel-sinaletico/posto-1/estado").back().payload, "online");
    site->publish("painel-sinaletico/posto-1/sinal/set", "Parar");
    ASSERT_TRUE(QTest::qWaitFor([&] { return lastState(*site)["sinal"].toString() == "Parar"; }, 5000));
    // Retained: a client that comes later still gets it.
    MqttClient later(broker.port);
    ASSERT_TRUE(follow(later));
    EXPECT_TRUE(later.on("painel-sinaletico/posto-1/sinal").back().retained);
    EXPECT_EQ(lastState(later)["sinal"].toString(), "Parar");
    port.clearRecord();
    const EventLoopProbe probe;
    const std::array<std::string, 4> malformed{std::string(100, 'x'), "nada", "\xff\xfe", "6"};
    for (int i = 0; i < 10'000; ++i) site->publish("painel-sinaletico/posto-1/sinal/set", malformed[std::size_t(i % 4)], 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("count(*)", "acao = 'MQTT' AND resultado = 'mensagens rejeitadas'") == "1"; }, 20000));
    EXPECT_EQ(port.sent(), "");
    // Handled on the network thread, a flood leaves the window a few ms at a time; under the
    // sanitizers and a loaded machine that stretches, while one that reached the window's slow
    // path would hold it for seconds.
    EXPECT_LT(probe.longest, 500);
    EXPECT_LE(journaled("count(*)", "acao = 'MQTT' AND resultado = 'mensagem rejeitada'").toInt(), 3);
    // A burst's first is journaled with its reason (a busy machine may split the flood into bursts).
    EXPECT_NE(journaled("count(*)", "motivo = 'mensagem de 100 bytes, acima de 64'"), "0");
    // Even well-formed, no more than five signs a second reach the panel.
    for (int i = 0; i < 30; ++i) site->publish("painel-sinaletico/posto-1/sinal/set", "Frente");
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("count(*)", "motivo LIKE '%por segundo%'") == "1"; }, 5000));
    EXPECT_LE(port.sent().size(), 7 * (frames::sign[1].size() + 1));
    EXPECT_GE(port.sent().size(), frames::sign[1].size());
    EXPECT_EQ(journaled("group_concat(DISTINCT sinal)", "origem = 'remoto' AND acao = 'sinal'"), "Frente,Direita,Esquerda,Xadrez,Parar");
    // Gone on purpose, it says so (the broker's will is only for a lost connection).
    post.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return site->on("painel-sinaletico/posto-1/estado").back().payload == "offline"; }, 5000));
}

// Only a new message with a sign's exact name chooses it, five a second at most in any second:
// a set message the broker kept from long ago is ignored (and journaled once), a byte-order mark
// makes no name, and a broker that was not up at start-up is reached once it is.
TEST_F(BrokerTest, OnlyNewExactSetMessagesChooseSignsFiveASecondAtMost)
{
    MqttBroker broker(true);
    const std::string set = "painel-sinaletico/posto-2/sinal/set";
    {
        MqttClient old(broker.port);
        ASSERT_TRUE(old.publish(set, "Frente" + std::string(100, '.'), 1, true));
        old.subscribe(set); // the broker keeps it once it hands it back
        ASSERT_TRUE(QTest::qWaitFor([&] { return !old.on(set).empty(); }, 5000));
    }
    broker.stop(); // and kept on disk: the broker brings the old message back when restarted
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=localhost\nport=%1\nid=posto-2\n").arg(broker.port).toUtf8()));
    start();
    ASSERT_NE(post->mqtt.client(), nullptr);
    EXPECT_EQ(post->mqtt.client()->connectHost(), "127.0.0.1"); // the address checked, not the name again
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return post->mqtt.client()->isConnected(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("pormenor", "resultado = 'mensagem retida ignorada'") == "Frente" + QString(58, '.'); }, 5000));
    EXPECT_TRUE((post->session.chosenSign() == Sign::Stop));

    MqttClient site(broker.port);
    ASSERT_TRUE(site.publish(set, "\xEF\xBB\xBFParar"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("count(*)", "resultado = 'mensagem rejeitada' AND motivo LIKE '%não é um sinal%'") == "1"; }, 5000));
    port.clearRecord();
    // Twenty signs over 1.2 s: no more than five of them go out in any one second.
    int published = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (site.publish(set, published % 2 ? "Parar" : "Frente") && ++published == 20) pace.stop();
    });
    pace.start(60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return published == 20; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return journaled("count(*)", "resultado = 'mensagens rejeitadas'") == "1"; }, 5000));
    QList<qint64> sent;
    for (const QString& ms : journalRows(journal->fileName(), "utc_ms", "origem = 'remoto' AND acao = 'sinal'")) sent << ms.toLongLong();
    EXPECT_GE(sent.size(), 6);
    for (qsizetype i = 5; i < sent.size(); ++i) EXPECT_GE(sent[i] - sent[i - 5], 990) << i;
    EXPECT_EQ(port.sent().size(), std::size_t(sent.size()) * (frames::sign[1].size() + 1) - 1);
}

// A control room's request goes as a click, origin "central", journaled with its id; the state
// published answers it with the outcome, a failure's reason included. The post says what it is
// on .../info and, asked to, announces itself to Home Assistant as its documented select schema
// reads. Requests that are not exactly that send nothing.
TEST_F(BrokerTest, AControlRoomsRequestIsAnsweredAndThePostDescribed)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-3\nnome=Curva 3\nhome_assistant=true\n").arg(broker.port).toUtf8()));
    start();
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-3/#");
    site.subscribe("homeassistant/#");
    const auto json = [&](const std::string& topic) {
        const auto messages = site.on(topic);
        return messages.empty() ? QJsonObject() : QJsonDocument::fromJson(QByteArray::fromStdString(messages.back().payload)).object();
    };
    const std::string discovery = "homeassistant/select/posto-3/sinal/config";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !json("painel-sinaletico/posto-3/info").isEmpty() && !json(discovery).isEmpty(); }, 10000));
    const QJsonObject info = json("painel-sinaletico/posto-3/info");
    EXPECT_EQ(QStringList(info.keys()).join(","), "cor,dispositivo,modo,nome,porta,versao");
    EXPECT_EQ(QStringList({info["nome"].toString(), info["versao"].toString(), info["porta"].toString(), info["modo"].toString(), info["cor"].toString()}).join("|"),
              "Curva 3|" PAINEL_VERSION "|COM1|multicor|");
    // Home Assistant's MQTT select: command_topic and options required; every key one it knows,
    // of its type.
    const QJsonObject config = json(discovery);
    const std::map<QString, QJsonValue::Type> schema{{"name", QJsonValue::String},
                                                     {"unique_id", QJsonValue::String},
                                                     {"command_topic", QJsonValue::String},
                                                     {"state_topic", QJsonValue::String},
                                                     {"value_template", QJsonValue::String},
                                                     {"json_attributes_topic", QJsonValue::String},
                                                     {"options", QJsonValue::Array},
                                                     {"availability_topic", QJsonValue::String},
                                                     {"payload_available", QJsonValue::String},
                                                     {"payload_not_available", QJsonValue::String},
                                                     {"qos", QJsonValue::Double},
                                                     {"retain", QJsonValue::Bool},
                                                     {"device", QJsonValue::Object}};
    for (const QString& key : config.keys()) EXPECT_TRUE(schema.count(key) && schema.at(key) == config[key].type()) << key.toStdString();
    EXPECT_EQ(config["command_topic"].toString() + " " + config["state_topic"].toString() + " " + config["availability_topic"].toString(),
              "painel-sinaletico/posto-3/sinal/set painel-sinaletico/posto-3/sinal painel-sinaletico/posto-3/estado");
    EXPECT_EQ(config["options"].toVariant().toStringList().join(","), "Parar,Frente,Esquerda,Direita,Xadrez"); // the posts' screen order
    EXPECT_EQ(config["value_template"].toString(), "{{ value_json.sinal }}");
    const QJsonObject device = config["device"].toObject();
    EXPECT_EQ(device["identifiers"].toArray().size(), 1);
    for (const char* key : {"name", "manufacturer", "model", "sw_version"}) EXPECT_TRUE(device[key].isString()) << key;
    MqttClient later(broker.port); // kept by the broker for Home Assistant started later
    later.subscribe(discovery);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !later.on(discovery).empty() && later.on(discovery).back().retained; }, 5000));

    const std::string set = "painel-sinaletico/posto-3/sinal/set";
    for (const std::string& bad : std::vector<std::string>{R"({"sinal":2})", R"({"pedido":"p"})", R"({"sinal":"Frente","pedido":")" + std::string(65, 'p') + R"("})",
                                                           R"({"sinal":"Frente","pedido":"a\nb"})", R"({"sinal":"Frente","origem":"outra"})", R"({"sinal":"Frente")",
                                                           R"({"sinal":"Frente","pedido":")" + std::string(250, 'p') + R"("})"})
        ASSERT_TRUE(site.publish(set, bad));
    site.publish(set, R"({"sinal":"Frente","pedido":"central-7","origem":"central"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["pedido"] == "central-7"; }, 5000));
    EXPECT_EQ(port.sent().substr(port.sent().size() - frames::sign[1].size()), frames::sign[1]);
    const QJsonObject state = json("painel-sinaletico/posto-3/sinal");
    EXPECT_EQ(state["sinal"].toString() + "|" + state["origem"].toString() + "|" + state["resultado"].toString(), "Frente|central|enviado");
    EXPECT_EQ(journaled("origem || '|' || sinal", "pormenor = 'pedido central-7'"), "central|Frente");
    EXPECT_EQ(journaled("count(*)", "resultado = 'mensagem rejeitada' OR resultado = 'mensagens rejeitadas'").toInt() >= 1, true);
    EXPECT_EQ(journaled("count(*)", "acao = 'sinal' AND origem IN ('central', 'remoto')"), "1");
    // A send that fails is published with its reason, for the control room to say.
    port.openError = LineError::CouldNotOpenDevice;
    site.publish(set, R"({"sinal":"Parar","pedido":"central-8","origem":"central"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["pedido"] == "central-8"; }, 5000));
    EXPECT_EQ(json("painel-sinaletico/posto-3/sinal")["resultado"].toString(), "porta não abriu");
    EXPECT_FALSE(json("painel-sinaletico/posto-3/sinal")["motivo"].toString().isEmpty());
    EXPECT_EQ(state["eco"].toString(), "desligado");
    // With the cable's echo on, a send it did not prove says so, and why.
    port.openError.reset();
    ASSERT_EQ(post->session.setEcho(1, true), std::nullopt);
    port.echoAnswer = Echo::Missing;
    site.publish(set, R"({"sinal":"Parar","pedido":"central-9","origem":"central"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["pedido"] == "central-9"; }, 5000));
    EXPECT_EQ(json("painel-sinaletico/posto-3/sinal")["eco"].toString() + "|" + json("painel-sinaletico/posto-3/sinal")["motivo"].toString(),
              "sem eco|sem eco do cabo em COM1: o cabo pode estar cortado ou desligado no painel");
    // A local click answers no request.
    post->session.chooseSign(Sign::Left, Origin::Mouse);
    ASSERT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["sinal"] == "Esquerda"; }, 5000));
    EXPECT_EQ(json("painel-sinaletico/posto-3/sinal")["pedido"].toString() + "|" + json("painel-sinaletico/posto-3/sinal")["origem"].toString(), "|rato");
    // What the post is follows "Preferências".
    PanelSettings settings = post->session.settings();
    settings.signalMode = monoColourSigns;
    settings.signColour = colourGreen;
    post->session.setPreferences(settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/info")["cor"] == "Verde"; }, 5000));
    EXPECT_EQ(json("painel-sinaletico/posto-3/info")["modo"].toString(), "monocor");
}

// A control room's request says when it was sent on the control room's clock. One that reaches
// the post later than the control room waits for its answer is not carried out: it is answered
// "pedido expirado" and journaled. The post's calendar clock plays no part, so a clock far from
// the post's is obeyed at once. A request comes by its post's topic and, to stop everyone, by the
// site's: it is carried out once, and the site's topic takes "Parar" only.
TEST_F(BrokerTest, ARequestTooLateIsNotCarriedOutAndNoneTwice)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-4\n").arg(broker.port).toUtf8()));
    start();
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-4/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !site.on("painel-sinaletico/posto-4/sinal").empty(); }, 10000));
    const std::string set = "painel-sinaletico/posto-4/sinal/set";
    QElapsedTimer clock;
    const auto request = [&](const char* sign, const char* id, qint64 sentMs) {
        return QStringLiteral(R"({"sinal":"%1","pedido":"%2","origem":"central","relogio":"c1","emitido":%3,"validade_ms":2000})").arg(sign, id).arg(sentMs).toStdString();
    };
    const auto answer = [&](const std::string& id) {
        for (const auto& m : site.on("painel-sinaletico/posto-4/resposta"))
            if (QJsonDocument::fromJson(QByteArray::fromStdString(m.payload))["pedido"].toString().toStdString() == id)
                return QJsonDocument::fromJson(QByteArray::fromStdString(m.payload));
        return QJsonDocument();
    };
    port.clearRecord();
    clock.start();
    site.publish(set, request("Frente", "r1", 12345)); // a clock nobody's calendar shares
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.sent() == frames::sign[1]; }, 5000)) << port.sent();
    // Sent, by its own account, five seconds before the first: held up on its way.
    port.clearRecord();
    site.publish(set, request("Esquerda", "r2", 12345 - 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answer("r2").isNull(); }, 5000));
    EXPECT_EQ(answer("r2")["resultado"].toString() + "|" + answer("r2")["sinal"].toString(), "pedido expirado|Esquerda");
    EXPECT_EQ(port.sent(), "");
    EXPECT_EQ(journaled("origem || '|' || sinal || '|' || resultado", "pormenor = 'pedido r2'"), "central|Esquerda|pedido expirado");
    // One the control room is about to give up on: its answer could no longer come back in time.
    site.publish(set, request("Esquerda", "r2b", 12345 + clock.elapsed() - 1900));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answer("r2b").isNull(); }, 5000));
    EXPECT_EQ(answer("r2b")["resultado"].toString(), "pedido expirado");
    site.publish(set, request("Direita", "r3", 12345 + clock.elapsed()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.sent() == frames::sign[2]; }, 5000)) << port.sent();
    port.clearRecord();
    for (const std::string& topic : {std::string("painel-central/parar"), set}) site.publish(topic, request("Parar", "r4", 12345 + clock.elapsed()));
    site.publish("painel-central/parar", request("Frente", "r5", 12345 + clock.elapsed()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("count(*)", "motivo LIKE '%só se pede \"Parar\"%'") == "1"; }, 5000));
    EXPECT_EQ(port.sent(), frames::sign[0]);
    EXPECT_EQ(journaled("count(*)", "pormenor = 'pedido r4'"), "1");
}

// Nobody gets in by the back door: a broker elsewhere without TLS, a password others can read
// or an id that is no topic level leave MQTT off, and say why.
TEST_F(BrokerTest, SettingsThatWouldOpenAWayInLeaveMqttOff)
{
    QFile password(home.filePath("senha"));
    ASSERT_TRUE(password.open(QIODevice::WriteOnly) && password.write("segredo-123\n") > 0);
    password.close();
    password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ASSERT_TRUE(writeConf("[mqtt]\nhost=127.0.0.1\nuser=posto\npassword_file=" + home.filePath("senha").toUtf8() + "\n"));
    start();
    EXPECT_EQ(post->mqtt.client(), nullptr);
    EXPECT_TRUE(post->session.notes().contains("pode ser lido por outros")) << post->session.notes().toStdString();
    EXPECT_EQ(journaled("count(*)", "motivo LIKE '%segredo%' OR pormenor LIKE '%segredo%'"), "0");
    for (const QByteArray& conf : {QByteArray("[mqtt]\nhost=broker.example.org\n"), QByteArray("[mqtt]\nhost=localhost\nid=posto/+\n")}) {
        QStringList problems;
        ASSERT_TRUE(writeConf(conf));
        EXPECT_FALSE(readMoreSettings(home.filePath("painel-sinaletico.conf"), &problems).mqtt.enabled()) << conf.toStdString();
        EXPECT_TRUE(problems.join("").endsWith("o MQTT fica desligado.")) << problems.join("").toStdString();
    }
    // A flag that is not understood is said where the operator looks, and journaled.
    ASSERT_TRUE(writeConf("[mqtt]\nhost=broker.example.org\nsem_cifra=no\n"));
    start();
    EXPECT_EQ(post->mqtt.client(), nullptr);
    EXPECT_TRUE(post->session.notes().contains("mqtt/sem_cifra = \"no\" não se entende")) << post->session.notes().toStdString();
    EXPECT_EQ(journaled("count(*)", "resultado = 'recusado' AND motivo LIKE '%sem_cifra%'"), "1");
}

} // namespace
