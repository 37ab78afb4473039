// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/central_program.h"
#include "central_window/post_tile.h"
#include "journal_rows.h"
#include "mqtt_broker.h"
#include "post_rig.h"
#include "program_home.h"
#include "pty_pair.h"
#include "qt_printing.h"
#include "remote/post_mqtt_client.h"
#include "signs/sign_names.h"
#include "stalled_line.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

const QByteArray goodState = R"({"sinal":"Frente","modo":"multicor","cor":"","hora":"2026-12-08T05:00:00.000Z","resultado":"enviado","origem":"rato","pedido":""})";

// A tile says in words what the board knows of its post: its name, emoji and all, or why it was
// refused; how its sign was chosen, at the post's own time; and the answer, a late one and a
// post's refusal apart from a confirmation.
TEST(PostTile, SaysWhatTheBoardKnowsOfItsPost)
{
    PostBoard board(
        QStringLiteral("central"), [](const QString&, const QByteArray&) { return true; }, nullptr);
    const auto take = [&](const QString& id, const char* leaf, const QByteArray& payload, qint64 afterMs) {
        const auto message =
            PostBoard::parse(QStringLiteral("painel-sinaletico/%1/%2").arg(id, leaf).toUtf8(), payload, false, board.post(id) ? board.post(id)->askedAtMs + afterMs : 0);
        return message && board.receive(*message);
    };
    for (const auto& [id, name] :
         {std::pair{"a", "🚦 Meta 🏁"}, {"b", "\u0301\u0301 \u0308"}, {"c", "Curva 3"}, {"d", "Curva 4"}, {"e", "Curva 5"}, {"f", "Curva 6"}, {"g", "Curva 7"}})
        ASSERT_TRUE(take(id, "info", QStringLiteral(R"({"nome":"%1"})").arg(name).toUtf8(), 0));
    const QString request = board.stopAll();
    const QByteArray answered = QString::fromUtf8(goodState).replace(R"("pedido":"")", R"("pedido":")" + request + "\"").toUtf8();
    ASSERT_TRUE(take("a", "sinal", answered, 1500));
    ASSERT_TRUE(take("b", "sinal", answered, 2097));
    ASSERT_TRUE(take("c", "resposta", QStringLiteral(R"({"pedido":"%1","resultado":"pedido expirado","hora":"2026-12-08T05:00:00.000Z"})").arg(request).toUtf8(), 10450));
    const auto withEcho = [&](const QString& fields) { return QString::fromUtf8(answered).replace(R"("pedido")", fields + R"(,"pedido")").toUtf8(); };
    ASSERT_TRUE(take("d", "sinal", withEcho(R"("eco":"confirmado")"), 90));
    ASSERT_TRUE(take("e", "sinal", withEcho(R"("eco":"sem eco","motivo":"sem eco do cabo em COM1")"), 95));
    // A send that did not go out: the panel still shows the sign before.
    ASSERT_TRUE(take("f", "sinal",
                     QString::fromUtf8(answered).replace(R"("sinal":"Frente")", R"("sinal":"Parar","escolhido":"Frente")").replace("enviado", "porta não abriu").toUtf8(), 80));
    ASSERT_TRUE(take("g", "resposta",
                     QStringLiteral(R"({"pedido":"%1","resultado":"recusado","motivo":"mais de 5 mensagens por segundo","hora":"2026-12-08T05:00:00.000Z"})").arg(request).toUtf8(),
                     70));
    EXPECT_EQ(board.summary(), "Parar: 2 de 7 confirmados (1 no cabo, 1 sem prova do cabo), 1 sem eco, 1 falhou, 1 recusou, 1 respondeu tarde, 1 pedido expirado");
    PostTile tile("x");
    for (const auto& [id, first, last] : {std::tuple{"a", "🚦 Meta 🏁 (a)", "enviado, sem prova do cabo\nconfirmado em 1500 ms, sem prova do cabo"},
                                          {"d", "Curva 4 (d)", "enviado, confirmado no cabo\nconfirmado no cabo em 90 ms"},
                                          {"e", "Curva 5 (e)", "⚠ SEM ECO: sem eco do cabo em COM1\nsem eco do cabo, em 95 ms"},
                                          {"f", "Curva 6 (f)", "(hora do posto); o painel mostra Parar\n⚠ FALHOU: porta não abriu\nfalhou: porta não abriu"},
                                          {"g", "Curva 7 (g)", "recusado pelo posto: mais de 5 mensagens por segundo"},
                                          {"b", "b (nome recusado: o nome não tem letras, algarismos nem símbolos que se vejam)", "respondeu tarde: confirmado, 2097 ms depois"},
                                          {"c", "Curva 3 (c)", "pedido expirado no posto, 10450 ms depois"}}) {
        tile.showPost(*board.post(id), false);
        EXPECT_TRUE(tile.text().startsWith(QString(first) + "\n") && tile.text().endsWith(last)) << tile.text().toStdString();
        EXPECT_EQ(tile.troubled(), QString("ad").indexOf(id) < 0) << id;
    }
    tile.showPost(*board.post("a"), false);
    EXPECT_TRUE(tile.text().contains(QRegularExpression("Frente, no posto \\(rato\\) às \\d\\d:\\d\\d:\\d\\d \\(hora do posto\\)"))) << tile.text().toStdString();
}

// A post of the site, without its window.
struct SitePost : PostRig {
    SitePost(int brokerPort, const QString& id, const QString& name)
    {
        EXPECT_TRUE(writeConf(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=%2\nnome=%3\n").arg(brokerPort).arg(id, name).toUtf8()));
        start();
    }
};

struct CentralTest : ::testing::Test {
    // One that drops nothing for a slow client (by default Mosquitto drops past 1,000 waiting):
    // what the control room does with a flood is what is tested, all of it.
    MqttBroker broker{false, QStringLiteral("allow_anonymous true\nmax_queued_messages 0\n")};
    QTemporaryDir home;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<CentralProgram> central;

    void startCentral()
    {
        QFile conf(home.filePath("painel-central.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("[mqtt]\nhost=localhost\nport=%1\nid=central\n").arg(broker.port).toUtf8());
        conf.close();
        journal = std::make_unique<Journal>(home.filePath("registo-central.sqlite"));
        central = std::make_unique<CentralProgram>(home.filePath("painel-central.conf"), journal.get());
        central->window.show();
        // Its keys are the window's shortcuts: it must be the active one.
        central->window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&central->window));
        central->startLink();
        ASSERT_TRUE(QTest::qWaitFor([&] { return central->client() != nullptr && central->client()->isConnected(); }, 10000));
        EXPECT_FALSE(central->window.findChild<QLabel*>("stale")->isVisible());
    }
    [[nodiscard]] QString tileText(const QString& id) const
    {
        const PostTile* tile = central->window.tile(id);
        return tile == nullptr ? QString() : tile->text();
    }
    void click(const QString& id, Qt::KeyboardModifiers modifiers = {}) const { QTest::mouseClick(central->window.tile(id), Qt::LeftButton, modifiers, QPoint(10, 10)); }
    [[nodiscard]] QString journaled(const QString& columns, const QString& where) const
    {
        journal->flush();
        return journalRows(journal->fileName(), columns, where).join(", ");
    }
};

// Each origin a post reports reads as words on its tile, accents and all.
// At a site's size: what is typed in "Procurar" narrows the tiles to the posts it names, a group
// (the post's own, or its id's stem) narrows them too, and "Parar no grupo" stops every post of
// the group, shown or not, and no other.
TEST(CentralWindowAtSize, FindsPostsAndStopsAGroup)
{
    QStringList asked;
    PostBoard board(
        QStringLiteral("central"),
        [&](const QString& topic, const QByteArray&) {
            asked << topic;
            return true;
        },
        nullptr);
    for (const auto& [id, info] : {std::pair{"curva-1", R"({"nome":"Curva 1","grupo":"Sector 3"})"},
                                   {"curva-2", R"({"nome":"Curva 2","grupo":"Sector 3"})"},
                                   {"meta", R"({"nome":"Meta"})"},
                                   {"box-10", R"({"nome":"Boxes"})"}})
        ASSERT_TRUE(board.receive(*PostBoard::parse(QStringLiteral("painel-sinaletico/%1/info").arg(id).toUtf8(), info, false)));
    CentralWindow window(board, nullptr);
    const auto tiles = [&] {
        QStringList shown;
        for (const QString& id : board.ids())
            if (window.tile(id) != nullptr) shown << id;
        return shown.join(",");
    };
    auto* search = window.findChild<QLineEdit*>("search");
    auto* group = window.findChild<QComboBox*>("group");
    QTRY_COMPARE(tiles(), "box-10,curva-1,curva-2,meta");
    QStringList groups;
    for (int i = 0; i < group->count(); ++i) groups << group->itemText(i);
    EXPECT_EQ(groups.join(","), "todos os grupos,box,Sector 3");
    QTest::keyClicks(search, "CURVA");
    EXPECT_EQ(tiles(), "curva-1,curva-2");
    search->clear();
    group->setCurrentIndex(2);
    EXPECT_EQ(tiles(), "curva-1,curva-2");
    QTest::keyClicks(search, "2");
    EXPECT_EQ(tiles(), "curva-2");
    EXPECT_TRUE(window.findChild<QLabel*>("counts")->text().endsWith("; 1 mostrados"));
    QTest::mouseClick(window.findChild<QPushButton*>("stopGroup"), Qt::LeftButton);
    EXPECT_EQ(asked.join(","), "painel-sinaletico/curva-1/sinal/set,painel-sinaletico/curva-2/sinal/set");
}

TEST(PostTileText, EveryOriginReadsAsWords)
{
    for (const auto& [origin, words] : {std::pair{Origin::Central, "pela central"},
                                        {Origin::Safety, "pelo posto, por segurança"},
                                        {Origin::DurationEnd, "pelo posto, no fim da duração"},
                                        {Origin::Mouse, "no posto (rato)"}})
        EXPECT_EQ(originWords(originText(origin)), QString::fromUtf8(words));
}

// Posts appear by themselves, by name, as they come; a sign goes to one, some or all of them
// with exact frames on every post's line, and each tile and the summary say how it was answered:
// confirmed, failed with the post's reason, or silent after 2 s. A post that is killed goes
// offline by its last will, and one that ends says so itself.
TEST_F(CentralTest, SeesEveryPostAndSetsOneSomeOrAllOfThem)
{
    auto first = std::make_unique<SitePost>(broker.port, "posto-1", "Curva 1");
    SitePost second(broker.port, "posto-2", "Curva 2");
    SitePost failing(broker.port, "posto-3", "Curva 3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return first->connected() && second.connected() && failing.connected(); }, 10000));
    failing.port.openError = LineError::CouldNotOpenDevice;
    failing.port.clearRecord();
    // A post of its own process, on a pseudo-terminal, to be killed later.
    ProgramHome killedHome;
    PtyPair line;
    ASSERT_TRUE(killedHome.linkPort(1, QString::fromStdString(line.slavePath())));
    QFile conf(killedHome.config() + "/painel-sinaletico.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=posto-9\nnome=Meta\n").arg(broker.port).toUtf8());
    conf.close();
    QProcess process;
    process.setProcessEnvironment(killedHome.environment());
    process.start(PAINEL_SINALETICO_PATH, {});
    ASSERT_TRUE(process.waitForStarted(10000));
    EXPECT_EQ(hexBytes(line.read(57, 10000)), frames::startup + " " + frames::sign[0]);
    // A post that answers nothing: a broker's last word about a program long gone.
    MqttClient ghost(broker.port);
    ASSERT_TRUE(ghost.publish("painel-sinaletico/posto-0/estado", "online", 1, true));

    startCentral();
    // Ordered by their names once each post's info has told it.
    const auto named = [&] {
        for (const char* id : {"posto-1", "posto-2", "posto-3", "posto-9"})
            if (const Post* p = central->board.post(id); p == nullptr || p->name == id) return false;
        return true;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->board.ids().size() == 5 && central->board.post("posto-9")->sign.has_value() && named(); }, 10000));
    // Curva 1, 2, 3, Meta, posto-0, once the board has arranged them by the names it heard.
    EXPECT_TRUE(QTest::qWaitFor([&] { return central->board.ids().join(" ") == "posto-1 posto-2 posto-3 posto-9 posto-0"; }, 5000)) << central->board.ids().join(" ").toStdString();
    // Heard as the broker kept it: online since before the control room started, no more is known.
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").startsWith("Curva 1 (posto-1)\n● em linha (desde antes do arranque)\nParar, no arranque do posto às "); }, 5000))
        << tileText("posto-1").toStdString();

    // One post, by a click and the key 2 (Frente).
    for (SitePost* post : {first.get(), &second}) post->port.clearRecord();
    click("posto-1");
    QTest::keyClick(&central->window, Qt::Key_2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains(QRegularExpression("confirmado em \\d+ ms")); }, 5000)) << tileText("posto-1").toStdString();
    EXPECT_EQ(first->port.sent(), frames::sign[1]);
    EXPECT_EQ(second.port.sent(), "");
    EXPECT_EQ(central->window.findChild<QLabel*>("summary")->text(), "Frente: 1 de 1 confirmados");
    // Some: Ctrl+click adds a post, then the button.
    first->port.clearRecord();
    click("posto-2", Qt::ControlModifier);
    central->window.signButton(Sign::Right).click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->window.findChild<QLabel*>("summary")->text() == "Direita: 2 de 2 confirmados"; }, 5000));
    EXPECT_EQ(first->port.sent(), frames::sign[2]);
    EXPECT_EQ(second.port.sent(), frames::sign[2]);
    EXPECT_EQ(failing.port.writes.size(), 0U);
    // For a while: the tile counts the time down; the control room is known to be connected.
    click("posto-1");
    central->window.findChild<QSpinBox*>("duration")->setValue(30);
    central->window.signButton(Sign::Left).click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains(QRegularExpression("Esquerda, pela central .*termina daqui a (29|30) s")); }, 5000))
        << tileText("posto-1").toStdString();
    EXPECT_TRUE(first->post->session.timedSignEnds().isValid());
    central->window.findChild<QSpinBox*>("duration")->setValue(0);
    MqttClient watcher(broker.port);
    watcher.subscribe("painel-central/+/estado");
    EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.on("painel-central/central/estado").size() == 1; }, 5000));
    EXPECT_EQ(watcher.on("painel-central/central/estado")[0].payload, "online");

    // All at once, without a question.
    for (SitePost* post : {first.get(), &second}) post->port.clearRecord();
    QTest::keyClick(&central->window, Qt::Key_Escape);
    EXPECT_EQ(hexBytes(line.read(frames::sign[0].size() / 3 + 1, 5000)), frames::sign[0]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->window.findChild<QLabel*>("summary")->text() == "Parar: 3 de 5 confirmados, 1 falhou, 1 sem resposta"; }, 5000))
        << central->window.findChild<QLabel*>("summary")->text().toStdString();
    EXPECT_EQ(first->port.sent(), frames::sign[0]);
    EXPECT_EQ(second.port.sent(), frames::sign[0]);
    EXPECT_TRUE(tileText("posto-3").contains("⚠ FALHOU: porta não abriu: ")) << tileText("posto-3").toStdString();
    EXPECT_TRUE(tileText("posto-3").contains("falhou: porta não abriu: "));
    EXPECT_TRUE(tileText("posto-0").endsWith("sem resposta")) << tileText("posto-0").toStdString();
    EXPECT_TRUE(central->window.tile("posto-0")->troubled() && central->window.tile("posto-3")->troubled() && !central->window.tile("posto-1")->troubled());
    // Both journals tell it: the request with its targets and every answer here, the request's
    // id on each post.
    const QString request = central->board.post("posto-1")->asked;
    EXPECT_EQ(journaled("acao || '|' || sinal || '|' || pormenor", "acao = 'pedido' AND pormenor LIKE '%" + request + "%'"),
              "pedido|Parar|pedido " + request + " a 5 postos: posto-1, posto-2, posto-3, posto-9, posto-0; e a todos os postos do site");
    for (const auto& [action, count] : {std::pair{"confirmação", "3"}, {"falha", "1"}, {"sem resposta", "1"}})
        EXPECT_EQ(journaled("count(*)", QStringLiteral("acao = '%1' AND pormenor LIKE '%; pedido %2'").arg(action, request)), count) << action;
    second.journal->flush();
    EXPECT_EQ(journalRows(second.journal->fileName(), "origem || '|' || sinal", "pormenor = 'pedido " + request + "'").join(""), "central|Parar");

    // A post frozen while race control waited is never made to carry the request out afterwards:
    // it answers "pedido expirado", which the control room shows for what it is.
    ::kill(static_cast<pid_t>(process.processId()), SIGSTOP);
    click("posto-9");
    QTest::keyClick(&central->window, Qt::Key_2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tileText("posto-9").endsWith("sem resposta"); }, 5000)) << tileText("posto-9").toStdString();
    ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-9").contains("pedido expirado no posto, "); }, 5000)) << tileText("posto-9").toStdString();
    EXPECT_EQ(central->window.findChild<QLabel*>("summary")->text(), "Frente: 0 de 1 confirmados, 1 pedido expirado");
    EXPECT_EQ(journaled("count(*)", "acao = 'pedido expirado'"), "1");
    EXPECT_TRUE(line.readAvailable().empty());

    // Killed, a post goes offline by its last will; ended, by its own word.
    process.kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-9").contains("⚠ FORA DE LINHA há "); }, 10000)) << tileText("posto-9").toStdString();
    EXPECT_TRUE(central->window.tile("posto-9")->troubled());
    first.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains("⚠ FORA DE LINHA há "); }, 10000));
    EXPECT_EQ(journaled("count(*)", "acao = 'posto fora de linha'"), "2");
    process.waitForFinished(5000);
}

// "Parar em todos" reaches every post on the site, also those a full list leaves out (here a
// thousand forged ids take its places first), and the control room says in red how many it
// cannot show.
TEST_F(CentralTest, StopAllReachesThePostsAFullListLeavesOut)
{
    startCentral();
    MqttClient forger(broker.port);
    for (int i = 0; i < PostBoard::maxPosts; ++i) ASSERT_TRUE(forger.publish(QStringLiteral("painel-sinaletico/falso-%1/estado").arg(i).toStdString(), "online", 1, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->board.ids().size() == PostBoard::maxPosts; }, 20000));
    SitePost left(broker.port, "posto-real", "Curva 1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return left.connected() && central->board.ignoredPosts() == 1; }, 30000)); // a thousand posts first, on a busy machine
    left.port.clearRecord();
    central->window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&central->window));
    QTest::keyClick(&central->window, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return left.port.sent() == frames::sign[0]; }, 5000)) << left.port.sent();
    const QLabel* summary = central->window.findChild<QLabel*>("summary");
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary->text().endsWith("; lista cheia: 1 posto ignorado"); }, 5000)) << summary->text().toStdString();
    EXPECT_TRUE(summary->styleSheet().contains("color") && central->window.findChild<QLabel*>("counts")->text().endsWith("; lista cheia: 1 ignorado"));
}

// While the control room has no broker, nothing is known of the posts (none is offline for it);
// once back, each shows what the broker keeps of it, and the failures of requests sent meanwhile
// are not left standing on the tiles.
TEST_F(CentralTest, AfterAnOutageTilesShowThePostsAsTheyAre)
{
    SitePost first(broker.port, "posto-1", "Curva 1");
    SitePost second(broker.port, "posto-2", "Curva 2");
    startCentral();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains("● em linha") && tileText("posto-2").contains("● em linha"); }, 10000));
    broker.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains("estado desconhecido") && tileText("posto-2").contains("estado desconhecido"); }, 10000))
        << tileText("posto-1").toStdString();
    QTest::keyClick(&central->window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&central->window, Qt::Key_1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains("falhou: sem ligação ao broker"); }, 5000));
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return tileText("posto-1").contains("● em linha") && tileText("posto-2").contains("● em linha") && !central->window.tile("posto-1")->troubled()
                   && !central->window.tile("posto-2")->troubled();
        },
        20000))
        << tileText("posto-1").toStdString();
    EXPECT_TRUE(central->window.findChild<QLabel*>("counts")->text().contains(", 0 com problemas")) << central->window.findChild<QLabel*>("counts")->text().toStdString();
    EXPECT_EQ(central->window.findChild<QLabel*>("summary")->text(), "Parar: 0 de 2 confirmados, 2 falharam"); // what happened, as it was said
}

// Floods and hostile messages on every topic the control room follows change nothing and keep
// the window responsive.
TEST_F(CentralTest, HostileMessagesChangeNothing)
{
    startCentral();
    MqttClient site(broker.port);
    ASSERT_TRUE(site.publish("painel-sinaletico/posto-1/sinal", goodState.toStdString(), 1, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tileText("posto-1").isEmpty(); }, 5000));
    const QString before = central->window.summaryText();
    const std::array<std::pair<std::string, std::string>, 5> hostile{{{"painel-sinaletico/posto-1/sinal", std::string(5000, '{')},
                                                                      {"painel-sinaletico/posto-1/sinal", R"({"sinal":1})"},
                                                                      {"painel-sinaletico/posto-1/info", "não é JSON"},
                                                                      {"painel-sinaletico/posto-1/estado", "desligado"},
                                                                      {"painel-sinaletico/x.y/estado", "online"}}};
    // Published from a thread of its own, so that the probe times the window's work alone.
    const EventLoopProbe probe;
    std::thread flood([&] {
        for (int i = 0; i < 10'000; ++i) site.publish(hostile[std::size_t(i) % hostile.size()].first, hostile[std::size_t(i) % hostile.size()].second, 0);
        site.publish("painel-sinaletico/posto-2/estado", "online");
    });
    const bool arrived = QTest::qWaitFor([&] { return central->board.post("posto-2") != nullptr; }, 20000);
    flood.join();
    ASSERT_TRUE(arrived) << central->client()->dropped() << " dropped";
    EXPECT_EQ(central->client()->dropped(), 10'000);
    EXPECT_EQ(central->board.ids().join(" "), "posto-1 posto-2");
    EXPECT_TRUE(central->window.summaryText().startsWith(before)) << central->window.summaryText().toStdString();
    EXPECT_LT(probe.longest, 500);
    EXPECT_EQ(journaled("count(*)", "acao = 'MQTT' AND resultado = 'mensagens ignoradas'"), "1");
    // Connected without a user name, on a broker that takes anybody: said where the operator looks.
    EXPECT_TRUE(central->window.findChild<QLabel*>("openBroker")->isVisible());
    // Without the broker, what the tiles show may be out of date, and the window says so.
    broker.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return central->window.findChild<QLabel*>("stale")->isVisible(); }, 10000));
}

// A post offline for a day goes from the grid, with what the broker keeps of it, only once the
// operator confirms.
TEST_F(CentralTest, PostsGoneForADayAreRemovedOnlyWhenConfirmed)
{
    MqttClient site(broker.port);
    const std::string old = R"({"sinal":"Parar","modo":"multicor","cor":"","hora":")" + QDateTime::currentDateTimeUtc().addDays(-2).toString(Qt::ISODateWithMs).toStdString()
                            + R"(","resultado":"enviado"})";
    for (const auto& [topic, payload] : std::vector<std::pair<std::string, std::string>>{
             {"painel-sinaletico/velho/estado", "offline"}, {"painel-sinaletico/velho/sinal", old}, {"painel-sinaletico/novo/estado", "offline"}})
        ASSERT_TRUE(site.publish(topic, payload, 1, true));
    MqttClient watcher(broker.port);
    watcher.subscribe("painel-sinaletico/velho/#");
    startCentral();
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->board.ids().size() == 2 && central->board.post("velho")->sign.has_value(); }, 5000));
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        QTimer::singleShot(0, [answer] {
            (void)QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->objectName() == "removeAbsentQuestion") box->button(answer)->click();
        });
        central->window.findChild<QAction*>("MNU_REMOVE_ABSENT")->trigger();
        // Cancelled, nothing goes; confirmed, the post of two days ago goes, the other stays.
        EXPECT_EQ(central->board.ids().join(" "), answer == QMessageBox::No ? "novo velho" : "novo");
    }
    // Once the broker has passed the clearing on, a newcomer finds nothing of the post.
    const auto cleared = [&](const std::string& topic) { return !watcher.on(topic).empty() && watcher.on(topic).back().payload.empty(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return cleared("painel-sinaletico/velho/estado") && cleared("painel-sinaletico/velho/sinal"); }, 5000));
    MqttClient later(broker.port);
    later.subscribe("painel-sinaletico/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !later.on("painel-sinaletico/novo/estado").empty(); }, 5000));
    EXPECT_TRUE(later.on("painel-sinaletico/velho/estado").empty() && later.on("painel-sinaletico/velho/sinal").empty());
    EXPECT_EQ(journaled("pormenor", "acao = 'posto removido'"), "velho");
    // The broker's echo of the cleared messages is no fault of anybody's.
    EXPECT_EQ(journaled("count(*)", "resultado = 'mensagens ignoradas'"), "0");
}

} // namespace
