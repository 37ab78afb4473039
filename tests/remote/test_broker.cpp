// SPDX-License-Identifier: GPL-3.0-or-later
#include "frames.h"
#include "mqtt/site_protocol.h"
#include "mqtt_broker.h"
#include "painel_version.h"
#include "post_rig.h"
#include "qt_printing.h"
#include "remote/dbus_remote.h"
#include "remote/local_requests.h"
#include "remote/panel_requests.h"
#include "remote/post_mqtt_client.h"
#include "stalled_line.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

namespace {

struct BrokerTest : ::testing::Test, PostRig {
    // Every message on `topic`, oldest first, as JSON objects.
    static std::vector<QJsonObject> all(const MqttClient& site, const std::string& topic)
    {
        std::vector<QJsonObject> found;
        for (const auto& m : site.on(topic)) found.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).object());
        return found;
    }
    static QJsonObject last(const MqttClient& site, const std::string& topic)
    {
        const auto found = all(site, topic);
        return found.empty() ? QJsonObject() : found.back();
    }
    // Publishes a request to post `id` and waits for its answer, the one with `request`'s id;
    // one refused for the rate (five signs a second) is asked again. The answer, or nothing.
    static QJsonObject ask(MqttClient& site, const std::string& id, const std::string& payload, const QString& request = {})
    {
        const std::string answers = "painel-sinaletico/" + id + "/resposta";
        for (int attempt = 0; attempt < 20; ++attempt) {
            const std::size_t before = site.on(answers).size();
            site.publish("painel-sinaletico/" + id + "/sinal/set", payload);
            QJsonObject answer;
            const auto answered = [&] {
                const auto found = all(site, answers);
                const auto mine = std::find_if(found.begin() + std::ptrdiff_t(before), found.end(), [&](const QJsonObject& a) { return a["pedido"] == request; });
                return mine != found.end() && (answer = *mine, true);
            };
            if (!QTest::qWaitFor(answered, 5000)) return {};
            if (!answer["motivo"].toString().contains("por segundo")) return answer;
        }
        return {};
    }
};

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
            mqtt, [](Sign, Origin, const QString&, const QString&, int) { return PostMqttClient::Outcome{}; }, &journal);
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
    const auto lastState = [](const MqttClient& site) { return last(site, "painel-sinaletico/posto-1/sinal"); };
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
    // Each reason of the burst journaled as it first comes, and with its count once the burst is
    // over (a busy machine may split the flood into bursts).
    const QString counted = "acao = 'MQTT' AND resultado = 'mensagens rejeitadas'";
    EXPECT_TRUE(QTest::qWaitFor([&] { return journaled("sum(substr(pormenor, 1, instr(pormenor, ' ') - 1))", counted).toInt() >= 9'990; }, 20000));
    EXPECT_EQ(port.sent(), "");
    // Handled on the network thread, a flood leaves the window a few ms at a time; under the
    // sanitizers and a loaded machine that stretches, while one that reached the window's slow
    // path would hold it for seconds.
    EXPECT_LT(probe.longest, 500);
    // Too long, not UTF-8, no sign, another, and beyond the network thread's rate.
    EXPECT_EQ(journaled("count(DISTINCT motivo)", counted), "5");
    EXPECT_EQ(journaled("count(DISTINCT motivo)", "resultado = 'mensagem rejeitada'"), "5");
    EXPECT_LE(journaled("count(*)", "resultado = 'mensagem rejeitada'").toInt(), 10);
    EXPECT_NE(journaled("count(*)", "motivo = 'mensagem de 100 bytes, acima de 64'"), "0");
    // Refusals are answered, a few a second: a flood of requests is no flood of answers.
    EXPECT_LE(site->on("painel-sinaletico/posto-1/resposta").size(), 80U);
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

// One set of rules for a sign's name, whichever way it comes: the command line's door, D-Bus, a
// bare name and a request in JSON on MQTT take and refuse the same spellings, and JSON alone has
// numbers.
TEST_F(BrokerTest, EveryWayInTakesTheSameSpellings)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-5\n").arg(broker.port).toUtf8()));
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return post->mqtt.client()->isConnected(); }, 10000));
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-5/resposta");
    PanelRequests requests(post->session);
    LocalRequests door(requests, [] {});
    ASSERT_EQ(door.listen(home.filePath("door.socket")), std::nullopt);
    DBusRemote dbus(post->session);
    // Each way's word on one spelling: taken, or refused.
    const auto viaDoor = [&](const QString& name) {
        auto reply = std::async(std::launch::async, [&] { return LocalRequests::ask("sinal " + name, 5000, home.filePath("door.socket")); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 6000));
        const auto answer = reply.get();
        return answer && answer->code == 0;
    };
    const auto viaMqtt = [&](const std::string& payload) { return ask(site, "posto-5", payload)["resultado"] == "enviado"; };
    std::vector<std::pair<QString, std::optional<Sign>>> spellings{{"Frente", Sign::Ahead}, {" ESQUÉRDA\t", Sign::Left}, {"4", Sign::Right}, {"xadrez", Sign::Chequer}};
    for (const char* refused : {"04", "+4", "6", "Xa drez", ""}) spellings.emplace_back(refused, std::nullopt);
    for (const auto& [name, taken] : spellings) {
        const QString json = QString::fromUtf8(QJsonDocument(QJsonObject{{"sinal", name}}).toJson(QJsonDocument::Compact));
        for (const auto& [way, took] :
             {std::pair{"door", viaDoor(name)}, {"D-Bus", !dbus.show(name)}, {"MQTT", viaMqtt(name.toStdString())}, {"JSON", viaMqtt(json.toStdString())}}) {
            EXPECT_EQ(took, taken.has_value()) << way << " " << name.toStdString();
            if (taken) {
                EXPECT_EQ(post->session.chosenSign(), *taken) << way << " " << name.toStdString();
            }
        }
    }
    EXPECT_TRUE(viaMqtt(R"({"sinal":5})") && post->session.chosenSign() == Sign::Chequer);
    EXPECT_FALSE(viaMqtt(R"({"sinal":1.5})") || viaMqtt(R"({"sinal":true})"));
}

// A control room's request goes as a click, origin "central", journaled with its id; the state
// published answers it with the outcome, a failure's reason included. The post says what it is
// on .../info and, asked to, announces itself to Home Assistant as its documented select schema
// reads. Requests that are not exactly that send nothing.
TEST_F(BrokerTest, AControlRoomsRequestIsAnsweredAndThePostDescribed)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-3\nnome=Curva 3\ngrupo=Sector 3, Norte\nhome_assistant=true\n").arg(broker.port).toUtf8()));
    start();
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-3/#");
    site.subscribe("homeassistant/#");
    const auto json = [&](const std::string& topic) { return last(site, topic); };
    const std::string discovery = "homeassistant/select/posto-3/sinal/config";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !json("painel-sinaletico/posto-3/info").isEmpty() && !json(discovery).isEmpty(); }, 10000));
    const QJsonObject info = json("painel-sinaletico/posto-3/info");
    EXPECT_EQ(QStringList({info["nome"].toString(), info["grupo"].toString(), info["versao"].toString(), info["porta"].toString(), info["modo"].toString(), info["cor"].toString()})
                  .join("|"),
              "Curva 3|Sector 3, Norte|" PAINEL_VERSION "|COM1|multicor|");
    MqttClient later(broker.port); // kept by the broker for Home Assistant started later
    later.subscribe(discovery);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !later.on(discovery).empty() && later.on(discovery).back().retained; }, 5000));

    const std::string set = "painel-sinaletico/posto-3/sinal/set";
    const auto answers = [&] { return all(site, "painel-sinaletico/posto-3/resposta"); };
    // Every request is answered, with its id when it had one: here each refusal, and why.
    const std::vector<std::tuple<std::string, QString, QString>> refusals{
        {R"({"pedido":"p1"})", "p1", "o pedido não diz o sinal (\"sinal\")"},
        {R"({"sinal":9,"pedido":"p2"})", "p2", "o \"sinal\" não é um nome nem um lugar de 1 a 5"},
        {R"({"sinal":"Frente","pedido":")" + std::string(65, 'p') + R"("})", "", "o \"pedido\" não é um texto de até 64 caracteres nem um número inteiro"},
        {R"({"sinal":"Frente","pedido":"p4","origem":")" + std::string(33, 'o') + R"("})", "p4", "a \"origem\" não é um texto de 1 a 32 caracteres"},
        {R"({"sinal":"Frente","pedido":"p5")", "", "o pedido não é um objeto JSON"},
        {R"({"sinal":"Frente","pedido":")" + std::string(250, 'p') + R"("})", "", "mensagem de 280 bytes, acima de 256"},
        {"nada", "", "\"nada\" não é um sinal: Parar, Frente, Esquerda, Direita, Xadrez ou 1 a 5"},
        {R"({"sinal":"Frente","pedido":"d0","duracao_s":0})", "d0", "a \"duracao_s\" não é um número inteiro de segundos de 1 a 86400"},
        {R"({"sinal":"Frente","pedido":"d1","duracao_s":1.5})", "d1", "a \"duracao_s\" não é um número inteiro de segundos de 1 a 86400"},
        {R"({"sinal":"Frente","pedido":"d2","duracao_s":86401})", "d2", "a \"duracao_s\" não é um número inteiro de segundos de 1 a 86400"},
        {R"({"sinal":"Frente","pedido":"d3","duracao_s":"10"})", "d3", "a \"duracao_s\" não é um número inteiro de segundos de 1 a 86400"}};
    for (const auto& [payload, id, reason] : refusals) {
        ASSERT_TRUE(site.publish(set, payload));
        const auto refused = [&, &id = id, &reason = reason] {
            const auto all = answers();
            return std::any_of(all.begin(), all.end(), [&](const QJsonObject& a) { return a["resultado"] == "recusado" && a["motivo"] == reason && a["pedido"] == id; });
        };
        EXPECT_TRUE(QTest::qWaitFor(refused, 5000)) << reason.toStdString();
    }
    // Any program may label its requests; only the control room's own clock makes one the control
    // room's. A number is a place, as a digit is, and an id may be a number.
    const auto fields = [](const QJsonObject& a) {
        QStringList values;
        for (const char* key : {"pedido", "resultado", "sinal", "origem", "eco"}) values << a[key].toString();
        return values.join('|');
    };
    site.publish(set, R"({"sinal":2,"pedido":42,"origem":"node-red"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers().back()["pedido"] == "42"; }, 5000));
    EXPECT_EQ(fields(answers().back()), "42|enviado|Frente|node-red|desligado");
    EXPECT_EQ(journaled("origem || '|' || sinal || '|' || pormenor", "pormenor LIKE 'pedido 42%'"), "remoto|Frente|pedido 42; origem node-red");
    site.publish("painel-central/sala/relogio", R"({"relogio":"c1","emitido":1})", 1, true);
    for (const char* clock : {"c0", "c1"})
        site.publish(set, QStringLiteral(R"({"sinal":"Frente","pedido":"central-%1","origem":"central","relogio":"%1","emitido":1})").arg(clock).toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["pedido"] == "central-c1"; }, 5000));
    EXPECT_EQ(port.sent().substr(port.sent().size() - frames::sign[1].size()), frames::sign[1]);
    const QJsonObject state = json("painel-sinaletico/posto-3/sinal");
    EXPECT_EQ(state["sinal"].toString() + "|" + state["origem"].toString() + "|" + state["resultado"].toString(), "Frente|central|enviado");
    EXPECT_EQ(journaled("group_concat(origem || '|' || pormenor, ',')", "pormenor LIKE 'pedido central-%'"), "remoto|pedido central-c0; origem central,central|pedido central-c1");
    // The same request again is carried out once, and answered so.
    site.publish(set, R"({"sinal":"Esquerda","pedido":"central-c1","origem":"central","relogio":"c1","emitido":1})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers().back()["resultado"] == "pedido repetido"; }, 5000));
    // Under MQTT 5 the answer goes where the request asks too, with its correlation, but never onto
    // the site's own topics.
    MqttClient requester(broker.port, nullptr, nullptr, true);
    for (const char* topic : {"node-red/respostas", "painel-sinaletico/posto-9/sinal/set"}) requester.subscribe(topic);
    ASSERT_TRUE(requester.request(set, R"({"sinal":"Frente","pedido":"v5-mau"})", "painel-sinaletico/posto-9/sinal/set", "c-0"));
    ASSERT_TRUE(requester.request(set, R"({"sinal":"Frente","pedido":"v5"})", "node-red/respostas", "c-1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !requester.on("node-red/respostas").empty(); }, 5000));
    EXPECT_EQ(last(requester, "node-red/respostas")["pedido"].toString().toStdString() + "|" + requester.on("node-red/respostas").back().correlation, "v5|c-1");
    EXPECT_TRUE(requester.on("painel-sinaletico/posto-9/sinal/set").empty());
    // A live set message the broker keeps is old news to the next post that connects: refused now too.
    site.publish(set, R"({"sinal":"Direita","pedido":"kept"})", 1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers().back()["pedido"] == "kept"; }, 5000));
    EXPECT_EQ(answers().back()["resultado"].toString() + "|" + answers().back()["motivo"].toString(),
              "recusado|guardada pelo broker (retain): um pedido antigo não escolhe o sinal de agora");
    site.publish(set, "", 1, true);
    EXPECT_EQ(post->session.chosenSign(), Sign::Ahead);
    // A send that fails is published with its reason, for the control room to say.
    // The state says what the panel shows: a sign that did not go out leaves the one before, one cut
    // short or without its echo's proof leaves nobody knowing.
    const auto sendAs = [&](const char* id) {
        return !ask(site, "posto-3", QStringLiteral(R"({"sinal":"Parar","pedido":"%1"})").arg(id).toStdString(), id).isEmpty()
               && QTest::qWaitFor([&] { return json("painel-sinaletico/posto-3/sinal")["pedido"] == id; }, 5000);
    };
    const auto shown = [&] {
        const QJsonObject now = json("painel-sinaletico/posto-3/sinal");
        return QStringList{now["escolhido"].toString(), now["sinal"].toString(), now["resultado"].toString(), now["eco"].toString(), now["motivo"].toString()}.join('|');
    };
    const std::vector<std::tuple<const char*, std::function<void()>, QString>> sends{
        {"f1", [&] { port.openError = LineError::CouldNotOpenDevice; }, "Parar|Frente|porta não abriu|desligado|Permission denied"},
        {"f2", [&] { port.openError.reset(), port.failAtWrite = port.writeCount + 2; }, "Parar||falhou na escrita|desligado|write failed"},
        {"f3", [&] { (void)post->session.setEcho(1, true), port.echoAnswer = Echo::Missing; },
         "Parar||enviado|sem eco|sem eco do cabo em COM1: o cabo pode estar cortado ou desligado no painel"},
        {"f4", [&] { port.echoAnswer = Echo::Confirmed; }, "Parar|Parar|enviado|confirmado|"}};
    for (const auto& [id, prepare, expected] : sends) {
        prepare();
        ASSERT_TRUE(sendAs(id));
        EXPECT_EQ(shown(), expected) << id;
    }
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

    // Everything the post published, and a control room's request, as the installed schemas say,
    // and Home Assistant's select as its discovery reads it; the schemas are no empty promise: a
    // sign's name in lower case is no state.
    QByteArray messages;
    const auto check = [&](const char* schema, const QByteArray& message) { messages += PAINEL_SOURCE_DIR "/packaging/schemas/" + QByteArray(schema) + '\t' + message + '\n'; };
    for (const char* leaf : {"sinal", "info", "resposta"})
        for (const auto& m : site.on("painel-sinaletico/posto-3/" + std::string(leaf)))
            check(leaf == std::string("sinal")  ? "estado.schema.json"
                  : leaf == std::string("info") ? "info.schema.json"
                                                : "resposta.schema.json",
                  QByteArray::fromStdString(m.payload));
    messages += PAINEL_SOURCE_DIR "/tests/remote/homeassistant-select.schema.json\t" + QJsonDocument(json(discovery)).toJson(QJsonDocument::Compact) + '\n';
    check("pedido.schema.json", site::toJson(site::Request{.sign = Sign::Ahead, .id = "central-1", .clock = "c1", .sentMs = 5, .validityMs = 2000, .durationSeconds = 20}));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const char* origin : {"segurança", "fim de duração"})
        check("estado.schema.json", site::toJson(site::State{.sign = Sign::Stop,
                                                             .shown = Sign::Stop,
                                                             .mode = "multicor",
                                                             .when = now,
                                                             .outcome = "enviado",
                                                             .origin = origin,
                                                             .echo = "desligado",
                                                             .cause = "sem ligação ao broker há 10 s",
                                                             .ends = now}));
    for (const auto& [schema, message] : {std::pair{"estado.schema.json", json("painel-sinaletico/posto-3/sinal")}, {"resposta.schema.json", answers().back()}}) {
        QJsonObject wrong = message;
        wrong["sinal"] = "frente";
        check(schema, QJsonDocument(wrong).toJson(QJsonDocument::Compact));
    }
    QProcess validator;
    validator.start("/usr/bin/python3", {PAINEL_SOURCE_DIR "/tests/support/validate_json.py"});
    validator.write(messages);
    validator.closeWriteChannel();
    ASSERT_TRUE(validator.waitForFinished(30000));
    const QStringList failures = QString::fromUtf8(validator.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(failures.size(), 2) << failures.join('\n').toStdString() << validator.readAllStandardError().toStdString();
    for (const QString& failure : failures) EXPECT_TRUE(failure.contains("'frente' is not one of")) << failure.toStdString();
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
    const auto answer = [&](const QString& id) {
        for (const QJsonObject& a : all(site, "painel-sinaletico/posto-4/resposta"))
            if (a["pedido"] == id) return a;
        return QJsonObject();
    };
    // The control room's clock, kept by the broker: its requests are the control room's.
    site.publish("painel-central/sala/relogio", R"({"relogio":"c1","emitido":12000})", 1, true);
    port.clearRecord();
    clock.start();
    site.publish(set, request("Frente", "r1", 12345)); // a clock nobody's calendar shares
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.sent() == frames::sign[1]; }, 5000)) << port.sent();
    // Sent, by its own account, five seconds before the first: held up on its way.
    port.clearRecord();
    site.publish(set, request("Esquerda", "r2", 12345 - 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answer("r2").isEmpty(); }, 5000));
    EXPECT_EQ(answer("r2")["resultado"].toString() + "|" + answer("r2")["sinal"].toString(), "pedido expirado|Esquerda");
    EXPECT_EQ(port.sent(), "");
    EXPECT_EQ(journaled("origem || '|' || sinal || '|' || resultado", "pormenor = 'pedido r2'"), "central|Esquerda|pedido expirado");
    // One the control room is about to give up on: its answer could no longer come back in time.
    site.publish(set, request("Esquerda", "r2b", 12345 + clock.elapsed() - 1900));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !answer("r2b").isEmpty(); }, 5000));
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
    // A second broker is held to the rules as the first; a list with a hole or a bad port is no list.
    for (const QByteArray& conf :
         {QByteArray("[mqtt]\nhost=broker.example.org\n"), QByteArray("[mqtt]\nhost=localhost\nid=posto/+\n"), QByteArray("[mqtt]\nhost=127.0.0.1,broker.example.org:1883\n"),
          QByteArray("[mqtt]\nhost=127.0.0.1,,localhost\n"), QByteArray("[mqtt]\nhost=\"127.0.0.1:70000\"\n")}) {
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

// A sign asked for a while gives way to the post's base sign when its time is up, as a click
// sends it; one chosen meanwhile ends that time; a restart sends the start-up sign, not the old one.
TEST_F(BrokerTest, ATimedSignGivesWayToTheBaseSignUnlessAnotherCameFirst)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-4\n[posto]\nsinal_base=Direita\n").arg(broker.port).toUtf8()));
    start();
    MqttClient site(broker.port);
    site.subscribe("painel-sinaletico/posto-4/#");
    // Its subscriptions go before its info: once that is here, requests reach it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !last(site, "painel-sinaletico/posto-4/info").isEmpty(); }, 10000));
    port.clearRecord();
    EXPECT_EQ(ask(site, "posto-4", R"({"sinal":"Frente","pedido":"t1","duracao_s":1})", "t1")["resultado"], "enviado");
    const QJsonObject timed = last(site, "painel-sinaletico/posto-4/sinal");
    const qint64 left = QDateTime::currentDateTimeUtc().msecsTo(QDateTime::fromString(timed["termina"].toString(), Qt::ISODateWithMs));
    EXPECT_TRUE(left > 0 && left <= 1000) << timed["termina"].toString().toStdString();
    EXPECT_EQ(PanelRequests(post->session).remainingSeconds(), "1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.sent() == frames::sign[1] + " " + frames::sign[2]; }, 3000)) << port.sent();
    const auto ended = [&] { return last(site, "painel-sinaletico/posto-4/sinal"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended()["origem"] == "fim de duração"; }, 3000));
    EXPECT_EQ(ended()["escolhido"], "Direita");
    EXPECT_EQ(ended()["causa"], "fim do tempo de Frente");
    EXPECT_FALSE(ended().contains("termina"));
    EXPECT_EQ(journaled("pormenor", "origem = 'fim de duração'"), "fim do tempo de Frente");

    EXPECT_EQ(ask(site, "posto-4", R"({"sinal":"Frente","pedido":"t2","duracao_s":60})", "t2")["resultado"], "enviado");
    EXPECT_TRUE(post->session.timedSignEnds().isValid());
    EXPECT_EQ(ask(site, "posto-4", R"({"sinal":"Esquerda","pedido":"t3"})", "t3")["resultado"], "enviado");
    EXPECT_FALSE(post->session.timedSignEnds().isValid());
    EXPECT_EQ(ask(site, "posto-4", R"({"sinal":"Frente","pedido":"t4","duracao_s":60})", "t4")["resultado"], "enviado");
    port.clearRecord();
    start();
    EXPECT_EQ(port.sent(), frames::startup + " " + frames::sign[0]);
    EXPECT_FALSE(post->session.timedSignEnds().isValid());
}

// Race control lost, by the control room's last will or by the broker's loss: "Parar" once the
// loss has lasted [seguranca] apos_s, with its cause; and nothing sent when race control is back.
TEST_F(BrokerTest, RaceControlLostStopsThePostAfterItsDelayAndItsReturnSendsNothing)
{
    MqttBroker broker;
    ASSERT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-5\n[seguranca]\nao_perder_central=parar\napos_s=1\n").arg(broker.port).toUtf8()));
    start();
    auto site = std::make_unique<MqttClient>(broker.port);
    site->subscribe("painel-sinaletico/posto-5/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !last(*site, "painel-sinaletico/posto-5/info").isEmpty(); }, 10000));
    const auto stoppedFor = [&](const QString& cause) {
        port.clearRecord();
        QElapsedTimer lost;
        lost.start();
        return std::pair(QTest::qWaitFor([&] { return port.sent() == frames::sign[0]; }, 3000) ? lost.elapsed() : -1, cause);
    };
    const auto count = [&](const char* action) { return journaled("count(*)", QStringLiteral("acao = '%1'").arg(action)).toInt(); };
    // Race control's return journaled once more after `act` than before it.
    const auto backsAfter = [&](const std::function<bool()>& act) {
        const int before = count("central de volta");
        return act() && QTest::qWaitFor([&] { return count("central de volta") == before + 1; }, 10000);
    };

    // The broker lost, no control room ever seen.
    EXPECT_EQ(ask(*site, "posto-5", R"({"sinal":"Frente","pedido":"s1"})", "s1")["resultado"], "enviado");
    broker.stop();
    const auto [afterBroker, brokerCause] = stoppedFor(QStringLiteral("sem ligação ao broker 127.0.0.1 há 1 s"));
    EXPECT_TRUE(afterBroker >= 900 && afterBroker <= 2000) << afterBroker;
    EXPECT_EQ(journaled("pormenor", "origem = 'segurança' AND acao = 'sinal'"), brokerCause);
    port.clearRecord();
    EXPECT_TRUE(backsAfter([&] { return broker.start(); }));
    EXPECT_EQ(port.sent(), "");

    // The control room's connection lost: its last will.
    site = std::make_unique<MqttClient>(broker.port);
    site->subscribe("painel-sinaletico/posto-5/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !last(*site, "painel-sinaletico/posto-5/info").isEmpty(); }, 10000));
    const std::string presence = "painel-central/sala/estado";
    site->subscribe(presence);
    std::unique_ptr<MqttClient> room;
    // The control room online, once the broker has passed that on (the post follows it as the
    // site's client does): a drop before would take its "online" with it.
    const auto roomBack = [&] {
        const std::size_t before = site->on(presence).size();
        room = std::make_unique<MqttClient>(broker.port, nullptr, nullptr, false, std::pair{presence, std::string("offline")});
        return room->publish(presence, "online", 1, true)
               && QTest::qWaitFor([&] { return site->on(presence).size() > before && site->on(presence).back().payload == "online"; }, 5000);
    };
    ASSERT_TRUE(roomBack());
    EXPECT_EQ(ask(*site, "posto-5", R"({"sinal":"Frente","pedido":"s2"})", "s2")["resultado"], "enviado");
    room->drop();
    const auto [afterWill, willCause] = stoppedFor("a central sala perdeu a ligação ao broker há 1 s");
    EXPECT_TRUE(afterWill >= 900 && afterWill <= 2000) << afterWill;
    const auto state = [&] { return last(*site, "painel-sinaletico/posto-5/sinal"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return state()["origem"] == "segurança"; }, 3000));
    EXPECT_EQ(state()["causa"], willCause);
    EXPECT_EQ(journaled("motivo", "resultado = 'Parar dentro de 1 s'"), "sem ligação ao broker 127.0.0.1, a central sala perdeu a ligação ao broker");

    // Lost and back within the delay: nothing at all.
    ASSERT_TRUE(backsAfter(roomBack));
    port.clearRecord();
    const int lost = count("central perdida");
    room->drop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return count("central perdida") == lost + 1; }, 10000));
    ASSERT_TRUE(backsAfter(roomBack));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !port.sent().empty(); }, 1500)) << port.sent();
}

} // namespace
