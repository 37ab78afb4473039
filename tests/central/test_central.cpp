// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_mqtt_client.h"
#include "central/post_board.h"
#include "journal_rows.h"
#include "mqtt_broker.h"
#include "post_rig.h"
#include "qt_printing.h"
#include "remote/post_mqtt_client.h"
#include "signs/sign_names.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

const QByteArray goodState = R"({"sinal":"Frente","modo":"multicor","cor":"","hora":"2026-12-08T05:00:00.000Z","resultado":"enviado","origem":"rato","pedido":""})";

// Only a post's exact messages make or change a post; whatever else the broker hands over
// (another program's topics, oversized, not JSON, fields of the wrong type, unknown signs,
// ids that are no topic level) leaves the board as it was.
TEST(PostBoard, OnlyAPostsExactMessagesChangeIt)
{
    PostBoard board(
        QStringLiteral("central"), [](const QString&, const QByteArray&) { return true; }, nullptr);
    const auto take = [&](const QByteArray& topic, const QByteArray& payload) {
        const auto message = PostBoard::parse(topic, payload, true);
        return message && board.receive(*message);
    };
    const std::vector<std::pair<QByteArray, QByteArray>> hostile{
        {"painel-sinaletico/posto-1/estado", "talvez"},
        {"painel-sinaletico/posto-1/estado", ""},
        {"painel-sinaletico/posto-1/sinal", "Frente"},
        {"painel-sinaletico/posto-1/sinal", R"({"sinal":4,"resultado":"enviado"})"},
        {"painel-sinaletico/posto-1/sinal", R"({"sinal":"Nada","resultado":"enviado"})"},
        {"painel-sinaletico/posto-1/sinal", R"({"sinal":"Parar"})"},
        {"painel-sinaletico/posto-1/sinal", "\xEF\xBB\xBF" + goodState},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace("Frente", "frente")},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace(R"("sinal":"Frente")", R"("sinal":"","escolhido":"frente")")},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace(R"("sinal":"Frente")", R"("sinal":"Nada","escolhido":"Frente")")},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace(R"("sinal":"Frente")", R"("sinal":"")")},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace("2026-12-08T05:00:00.000Z", "ontem")},
        {"painel-sinaletico/posto-1/sinal", QByteArray(goodState).replace(R"("hora":"2026-12-08T05:00:00.000Z",)", "")},
        {"painel-sinaletico/posto-1/resposta", R"({"pedido":"","resultado":"pedido expirado","hora":"2026-12-08T05:00:00.000Z"})"},
        {"painel-sinaletico/posto-1/sinal", R"({"sinal":"Parar","resultado":"enviado","pedido":["x"]})"},
        {"painel-sinaletico/posto-1/sinal", "[" + goodState + "]"},
        {"painel-sinaletico/posto-1/sinal", goodState.chopped(1) + ",\"x\":\"" + QByteArray(1100, 'x') + "\"}"},
        {"painel-sinaletico/posto-1/info", R"({"nome":{"a":1}})"},
        {"painel-sinaletico/posto 1/estado", "online"},
        {"painel-sinaletico/+/estado", "online"},
        {"painel-sinaletico/posto-1/sinal/set", "Parar"},
        {"painel-sinaletico/posto-1/estado/x", "online"},
        {"outro/posto-1/estado", "online"},
    };
    for (const auto& [topic, payload] : hostile) EXPECT_FALSE(PostBoard::parse(topic, payload, false).has_value()) << topic.toStdString() << " " << payload.left(80).toStdString();
    // Understood, and retained, the same topics make posts, ordered by name whatever their ids,
    // numbers as numbers even in the C locale. A name is shown as it is, emoji and all, but for
    // what would turn the text around; one with nothing to see is refused and the id stands.
    const QLocale locale;
    QLocale::setDefault(QLocale::c());
    for (const auto& [id, name] : {std::pair{"b", "Curva 1"}, {"a", "Meta"}, {"c", ""}, {"d", "Curva 10"}, {"e", "Curva 2"}, {"f", "\u202Ecurva 11"}}) {
        ASSERT_TRUE(take(QStringLiteral("painel-sinaletico/%1/info").arg(id).toUtf8(), QStringLiteral(R"({"nome":"%1","porta":"COM1"})").arg(name).toUtf8()));
        ASSERT_TRUE(take(QStringLiteral("painel-sinaletico/%1/sinal").arg(id).toUtf8(), goodState));
    }
    EXPECT_EQ(board.ids().join(" "), "c b e d f a");
    QLocale::setDefault(locale);
    EXPECT_EQ(board.post("f")->name, "curva 11");
    for (const auto& [name, shown] : {std::pair{"🚦 Meta 🏁", "🚦 Meta 🏁"}, {"\u0301\u0301 \u0308", ""}}) {
        ASSERT_TRUE(take("painel-sinaletico/g/info", QStringLiteral(R"({"nome":"%1"})").arg(name).toUtf8()));
        EXPECT_EQ(board.post("g")->name, shown);
        EXPECT_EQ(board.post("g")->nameRefused.isEmpty(), !QString(shown).isEmpty());
    }
    EXPECT_EQ(board.post("b")->sign, Sign::Ahead);
    // A retained "offline" is old news: the post is offline since its last sign at the latest.
    ASSERT_TRUE(take("painel-sinaletico/b/estado", "offline"));
    EXPECT_EQ(board.post("b")->lastHeard(), QDateTime::fromString("2026-12-08T05:00:00.000Z", Qt::ISODateWithMs));
    EXPECT_EQ(board.absentForADay(QDateTime::fromString("2026-12-09T04:59:00Z", Qt::ISODate)).join(" "), "");
    EXPECT_EQ(board.absentForADay(QDateTime::fromString("2026-12-09T05:00:00Z", Qt::ISODate)).join(" "), "b");
    // A request is answered only by a state with its id: any other state changes the tile alone.
    const QString request = board.send(Sign::Stop, {"a"});
    ASSERT_TRUE(take("painel-sinaletico/a/sinal", goodState));
    EXPECT_EQ(board.post("a")->answer, Post::Answer::Waiting);
    ASSERT_TRUE(take("painel-sinaletico/a/sinal", QString::fromUtf8(goodState).replace(R"("pedido":"")", R"("pedido":")" + request + "\"").toUtf8()));
    EXPECT_EQ(board.post("a")->answer, Post::Answer::Confirmed);
}

// An answer is timed by when it reached the control room, never by the post's clock nor by when
// the window got round to it: one that comes after the wait is late, however busy the window
// was, and counted apart, as is one after "sem resposta" and a post's refusal of a request that
// reached it too late. The post's own time is shown as the post's. The journal keeps each
// request's summary as the wait ended.
TEST(PostBoard, AnAnswerAfterTheWaitIsLateAndCountedApart)
{
    std::vector<std::pair<QString, QByteArray>> published;
    const QTemporaryDir folder;
    Journal journal(folder.filePath(QStringLiteral("registo.sqlite")));
    PostBoard board(
        QStringLiteral("central"),
        [&](const QString& topic, const QByteArray& payload) {
            published.emplace_back(topic, payload);
            return true;
        },
        &journal);
    const auto state = [](const QString& request) { return QString::fromUtf8(goodState).replace(R"("pedido":"")", R"("pedido":")" + request + "\"").toUtf8(); };
    const auto take = [&](const QString& id, const char* leaf, const QByteArray& payload, qint64 afterMs) {
        auto message = PostBoard::parse(QStringLiteral("painel-sinaletico/%1/%2").arg(id, leaf).toUtf8(), payload, false, board.post(id)->askedAtMs + afterMs);
        return message && board.receive(*message);
    };
    for (const char* id : {"a", "b", "c", "d"}) ASSERT_TRUE(board.receive(*PostBoard::parse(QStringLiteral("painel-sinaletico/%1/estado").arg(id).toUtf8(), "online", false)));
    const QString request = board.stopAll();
    // Every post by its own topic, and the site's stop for those it does not list, one request.
    ASSERT_EQ(published.size(), 5U);
    EXPECT_EQ(published[0].first, "painel-central/parar");
    for (const auto& [topic, payload] : published) {
        const QJsonObject json = QJsonDocument::fromJson(payload).object();
        EXPECT_EQ(json["pedido"].toString() + json["sinal"].toString() + json["relogio"].toString(), request + "Parar" + board.clockId()) << topic.toStdString();
        EXPECT_TRUE(json["emitido"].isDouble() && json["validade_ms"].toInt() == PostBoard::answerTimeoutMs);
    }
    ASSERT_TRUE(take("a", "sinal", state(request), 1500));
    ASSERT_TRUE(take("b", "sinal", state(request), 2097));
    EXPECT_EQ(board.summary(), "Parar: 1 de 4 confirmados, 1 respondeu tarde, 2 à espera");
    ASSERT_TRUE(QTest::qWaitFor([&] { return board.post("c")->answer == Post::Answer::Silent; }, 5000));
    journal.flush();
    EXPECT_EQ(journalRows(journal.fileName(), "resultado, pormenor, falha", "acao = 'resumo'"),
              QStringList{"Parar: 1 de 4 confirmados, 2 sem resposta, 1 respondeu tarde|pedido " + request + "|1"});
    ASSERT_TRUE(take("c", "sinal", state(request), 2500));
    ASSERT_TRUE(take("d", "resposta",
                     QStringLiteral(R"({"pedido":"%1","resultado":"pedido expirado","motivo":"chegou tarde","hora":"2026-12-08T05:00:00.000Z"})").arg(request).toUtf8(), 10450));
    EXPECT_EQ(board.summary(), "Parar: 1 de 4 confirmados, 2 responderam tarde, 1 pedido expirado");
    const std::map<QString, std::pair<Post::Answer, qint64>> answers{
        {"a", {Post::Answer::Confirmed, 1500}}, {"b", {Post::Answer::Late, 2097}}, {"c", {Post::Answer::Late, 2500}}, {"d", {Post::Answer::Expired, 10450}}};
    for (const auto& [id, answer] : answers) EXPECT_EQ(std::pair(board.post(id)->answer, board.post(id)->answerMs), answer) << id.toStdString();
    EXPECT_EQ(board.post("b")->answerReason, "confirmado");

    // The cable's echo: proof apart from a send without it, and an echo that failed is no confirmation.
    const QString next = board.stopAll();
    const std::map<QString, QString> fields{{"a", R"("eco":"confirmado")"},
                                            {"b", R"("eco":"desligado")"},
                                            {"c", R"("eco":"sem eco","motivo":"sem eco do cabo em COM1: o cabo pode estar cortado")"},
                                            {"d", R"("eco":"diferente","motivo":"eco diferente em COM1")"}};
    for (const auto& [id, field] : fields) ASSERT_TRUE(take(id, "sinal", state(next).replace(R"("pedido")", (field + R"(,"pedido")").toUtf8()), 100));
    EXPECT_EQ(board.summary(), "Parar: 2 de 4 confirmados (1 no cabo, 1 sem prova do cabo), 2 sem eco");
    EXPECT_EQ(std::pair(board.post("c")->answer, board.post("c")->answerReason), std::pair(Post::Answer::NoEcho, QString("sem eco do cabo em COM1: o cabo pode estar cortado")));
    EXPECT_TRUE(board.post("a")->onTheCable() && !board.post("b")->onTheCable() && board.post("d")->echoFailed());

    // Each state is journaled on both clocks; the post's runs as far behind as its least held-up
    // state says.
    const qint64 behind = QDateTime::fromString("2026-12-08T05:00:00.000Z", Qt::ISODateWithMs).toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch();
    EXPECT_TRUE(board.post("a")->clockOffsetMs() && std::abs(*board.post("a")->clockOffsetMs() - behind) < 5000);
    journal.flush();
    const QStringList states = journalRows(journal.fileName(), "sinal, eco, posto, pormenor", "acao = 'sinal do posto' AND pormenor LIKE 'c;%'");
    ASSERT_EQ(states.size(), 2);
    EXPECT_TRUE(states[1].startsWith("Frente|sem eco|c|c; mostra Frente; origem rato; pedido " + next + "; hora do posto 2026-12-08T05:00:00.000Z; relógio do posto -"))
        << states[1].toStdString();

    // A request replaced before its post answered is journaled unanswered then, not forgotten.
    const QString replaced = board.send(Sign::Ahead, {"a"});
    const QString replacing = board.send(Sign::Stop, {"a"});
    journal.flush();
    EXPECT_EQ(journalRows(journal.fileName(), "posto, pormenor, motivo", "acao = 'sem resposta' AND pormenor LIKE '%" + replaced + "'"),
              QStringList{"a|a; pedido " + replaced + "|substituído pelo pedido " + replacing + " antes de responder"});
}

// The example ACL, on a real Mosquitto: a post's credentials cannot set another post's sign or
// speak for it, an anonymous client cannot connect, and the control room's can set any sign.
TEST(MosquittoAcl, APostSetsNoOtherAndAnonymousNone)
{
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ExeOther);
    const QString passwords = dir.filePath("passwd"), acl = dir.filePath("acl");
    ASSERT_TRUE(QFile::copy(PAINEL_SOURCE_DIR "/packaging/mosquitto/painel-sinaletico.acl", acl));
    QFile(passwords).open(QIODevice::WriteOnly);
    for (const char* user : {"central", "posto-1", "posto-2"}) ASSERT_EQ(QProcess::execute("mosquitto_passwd", {"-b", passwords, user, QString(user) + "-senha"}), 0);
    for (const QString& file : {passwords, acl}) QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    MqttBroker broker(false, "allow_anonymous false\npassword_file " + passwords + "\nacl_file " + acl + "\n");
    QFile secret(dir.filePath("senha"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("posto-2-senha\n") > 0);
    secret.close();
    secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.port;
    settings.id = settings.user = "posto-2";
    settings.passwordFile = secret.fileName();
    QStringList chosen;
    PostMqttClient post(
        settings,
        [&](Sign kind, Origin, const QString& request, const QString&, int) {
            chosen << signCaption(kind) + " " + request;
            return PostMqttClient::Outcome{};
        },
        nullptr);
    ASSERT_EQ(post.start(), std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return post.isConnected(); }, 10000));
    MqttClient centralRoom(broker.port, "central", "central-senha");
    centralRoom.subscribe("painel-sinaletico/+/estado");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !centralRoom.on("painel-sinaletico/posto-2/estado").empty(); }, 5000));
    MqttClient otherPost(broker.port, "posto-1", "posto-1-senha");
    MqttClient anonymous(broker.port);
    otherPost.publish("painel-sinaletico/posto-2/sinal/set", R"({"sinal":"Frente","pedido":"outro-posto"})");
    otherPost.publish("painel-sinaletico/posto-2/estado", "offline", 1, true);
    anonymous.publish("painel-sinaletico/posto-2/sinal/set", R"({"sinal":"Esquerda","pedido":"anonimo"})");
    // The broker takes one client's messages in order: once its own state is through, so is
    // what it tried before; and what it passed on to the post would reach it before the control
    // room's request, sent after that.
    otherPost.publish("painel-sinaletico/posto-1/estado", "online");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !centralRoom.on("painel-sinaletico/posto-1/estado").empty(); }, 5000));
    centralRoom.publish("painel-sinaletico/posto-2/sinal/set", R"({"sinal":"Parar","pedido":"central-1","origem":"central"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chosen.isEmpty(); }, 5000));
    EXPECT_EQ(chosen.join(", "), "Parar central-1");
    EXPECT_EQ(centralRoom.on("painel-sinaletico/posto-2/estado").back().payload, "online");
    // The site's stop is the control room's alone to send.
    otherPost.publish("painel-central/parar", R"({"sinal":"Parar","pedido":"outro-posto"})");
    otherPost.publish("painel-sinaletico/posto-1/estado", "offline");
    ASSERT_TRUE(QTest::qWaitFor([&] { return centralRoom.on("painel-sinaletico/posto-1/estado").size() == 2; }, 5000));
    centralRoom.publish("painel-central/parar", R"({"sinal":"Parar","pedido":"central-2","origem":"central"})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return chosen.size() == 2; }, 5000));
    EXPECT_EQ(chosen.join(", "), "Parar central-1, Parar central-2");

    // The control room finds out whether anybody may speak for a post: not with the ACL; without
    // it, anybody, passwords or not.
    QFile centralSecret(dir.filePath("senha-central"));
    ASSERT_TRUE(centralSecret.open(QIODevice::WriteOnly) && centralSecret.write("central-senha\n") > 0);
    centralSecret.close();
    centralSecret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    MqttBroker withoutAcl(false, "allow_anonymous false\npassword_file " + passwords + "\n");
    for (const auto& [port, open] : {std::pair{broker.port, false}, {withoutAcl.port, true}}) {
        MqttSettings central;
        central.host = "127.0.0.1";
        central.port = port;
        central.id = central.user = "central";
        central.passwordFile = centralSecret.fileName();
        PostBoard board("central", {}, nullptr);
        CentralMqttClient link(central, board, nullptr);
        QSignalSpy checked(&link, &CentralMqttClient::brokerChecked);
        ASSERT_EQ(link.start(), std::nullopt);
        ASSERT_TRUE(checked.wait(10000)) << open;
        EXPECT_EQ(checked.first().first().toBool(), open);
    }
}

// A site on two brokers, the second bridged to the first as the example configuration bridges
// them: a post and the control room on the first, which dies; both go on to the second, and race
// control's stop, sent to the post and to the whole site, reaches the panel once and is confirmed.
TEST(BrokerPair, APostAndRaceControlGoOnToTheSecondWhenTheFirstDies)
{
    MqttBroker second;
    MqttBroker first(false, QStringLiteral("allow_anonymous true\nconnection ponte\naddress 127.0.0.1:%1\ntopic painel-sinaletico/# both 1\n"
                                           "topic painel-central/# both 1\n")
                                .arg(second.port));
    const QString brokers = QStringLiteral("127.0.0.1:%1, 127.0.0.1:%2").arg(first.port).arg(second.port);
    PostRig post;
    ASSERT_TRUE(post.writeConf(QStringLiteral("[mqtt]\nhost=%1\nid=posto-1\n").arg(brokers).toUtf8()));
    post.start();
    std::unique_ptr<CentralMqttClient> link;
    PostBoard board(
        "central", [&](const QString& topic, const QByteArray& payload) { return link != nullptr && link->request(topic, payload); }, nullptr);
    MqttSettings central;
    central.host = brokers;
    central.id = "central";
    link = std::make_unique<CentralMqttClient>(central, board, nullptr);
    QObject::connect(link.get(), &MqttConnection::connectedChanged, &board, &PostBoard::setConnected);
    ASSERT_EQ(link->start(), std::nullopt);
    const auto bothOn = [&](int port) {
        const Post* seen = board.post("posto-1");
        return post.connected() && post.post->mqtt.client()->broker().port == port && link->isConnected() && link->broker().port == port && seen != nullptr && seen->stateKnown
               && seen->online;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothOn(first.port); }, 10000)) << post.post->session.mqttNote().toStdString();

    first.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothOn(second.port); }, 10000));
    MqttClient answers(second.port);
    answers.subscribe("painel-sinaletico/posto-1/resposta");
    post.port.clearRecord();
    board.stopAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return board.summary() == "Parar: 1 de 1 confirmados"; }, 5000)) << board.summary().toStdString();
    // The same request by the other way is answered as one already carried out, and is not again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.on("painel-sinaletico/posto-1/resposta").size() == 2; }, 5000));
    EXPECT_NE(answers.on("painel-sinaletico/posto-1/resposta").back().payload.find("pedido repetido"), std::string::npos);
    const std::string sent = post.port.sent();
    std::size_t stops = 0;
    for (std::size_t at = sent.find("5A 7B 04"); at != std::string::npos; at = sent.find("5A 7B 04", at + 1)) ++stops;
    EXPECT_EQ(stops, 1U) << sent;
}

} // namespace
