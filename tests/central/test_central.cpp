// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/panel_program.h"
#include "central/central_program.h"
#include "central/post_tile.h"
#include "fake_serial_port.h"
#include "journal_rows.h"
#include "mqtt_broker.h"
#include "program_home.h"
#include "pty_pair.h"
#include "remote/mqtt_link.h"
#include "signs/sign_names.h"
#include "stalled_line.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

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
    // Understood, and retained, the same topics make posts, ordered by name, whatever their ids.
    for (const auto& [id, name] : {std::pair{"b", "Curva 1"}, {"a", "Meta"}, {"c", ""}}) {
        ASSERT_TRUE(take(QStringLiteral("painel-sinaletico/%1/info").arg(id).toUtf8(), QStringLiteral(R"({"nome":"%1","porta":"COM1"})").arg(name).toUtf8()));
        ASSERT_TRUE(take(QStringLiteral("painel-sinaletico/%1/sinal").arg(id).toUtf8(), goodState));
    }
    EXPECT_EQ(board.ids().join(" "), "c b a");
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

// A post of the site: the program's parts on a fake port, its journal and its settings.
struct Post {
    QTemporaryDir home;
    FakeSerialPort port;
    Journal journal{home.filePath("registo.sqlite")};
    std::unique_ptr<PanelProgram> program;

    Post(int brokerPort, const QString& id, const QString& name)
    {
        QFile conf(home.filePath("painel-sinaletico.conf"));
        (void)conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nid=%2\nnome=%3\n").arg(brokerPort).arg(id, name).toUtf8());
        conf.close();
        program = std::make_unique<PanelProgram>(QStringLiteral("Caption"), port, home.filePath("pref.vyr"), &journal);
        program->window.show();
    }
    [[nodiscard]] bool connected() const { return program->session.started() && program->mqtt.link() != nullptr && program->mqtt.link()->isConnected(); }
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
        ASSERT_TRUE(QTest::qWaitFor([&] { return central->link() != nullptr && central->link()->isConnected(); }, 10000));
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

// Posts appear by themselves, by name, as they come; a sign goes to one, some or all of them
// with exact frames on every post's line, and each tile and the summary say how it was answered:
// confirmed, failed with the post's reason, or silent after 2 s. A post that is killed goes
// offline by its last will, and one that ends says so itself.
TEST_F(CentralTest, SeesEveryPostAndSetsOneSomeOrAllOfThem)
{
    auto first = std::make_unique<Post>(broker.port, "posto-1", "Curva 1");
    Post second(broker.port, "posto-2", "Curva 2");
    Post failing(broker.port, "posto-3", "Curva 3");
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
    process.start(PROGRAM_PATH, {});
    ASSERT_TRUE(process.waitForStarted(10000));
    EXPECT_EQ(hexBytes(line.read(57, 10000)), frames::startup + " " + frames::sign[0]);
    // A post that answers nothing: a broker's last word about a program long gone.
    MqttClient ghost(broker.port);
    ASSERT_TRUE(ghost.publish("painel-sinaletico/posto-0/estado", "online", 1, true));

    startCentral();
    ASSERT_TRUE(QTest::qWaitFor([&] { return central->board.ids().size() == 5 && central->board.post("posto-9")->sign.has_value(); }, 10000));
    EXPECT_EQ(central->board.ids().join(" "), "posto-1 posto-2 posto-3 posto-9 posto-0"); // Curva 1, 2, 3, Meta, posto-0
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").startsWith("Curva 1 (posto-1)\n● em linha\nParar, no arranque do posto às "); }, 5000))
        << tileText("posto-1").toStdString();

    // One post, by a click and the key 2 (Frente).
    for (Post* post : {first.get(), &second}) post->port.clearRecord();
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

    // All at once, without a question.
    for (Post* post : {first.get(), &second}) post->port.clearRecord();
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
              "pedido|Parar|pedido " + request + " a 5 postos: posto-1, posto-2, posto-3, posto-9, posto-0");
    for (const auto& [action, count] : {std::pair{"confirmação", "3"}, {"falha", "1"}, {"sem resposta", "1"}})
        EXPECT_EQ(journaled("count(*)", QStringLiteral("acao = '%1' AND pormenor LIKE '%; pedido %2'").arg(action, request)), count) << action;
    second.journal.flush();
    EXPECT_EQ(journalRows(second.journal.fileName(), "origem || '|' || sinal", "pormenor = 'pedido " + request + "'").join(""), "central|Parar");

    // Killed, a post goes offline by its last will; ended, by its own word.
    process.kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-9").contains("⚠ FORA DE LINHA há "); }, 10000)) << tileText("posto-9").toStdString();
    EXPECT_TRUE(central->window.tile("posto-9")->troubled());
    first.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return tileText("posto-1").contains("⚠ FORA DE LINHA há "); }, 10000));
    EXPECT_EQ(journaled("count(*)", "acao = 'posto fora de linha'"), "2");
    process.waitForFinished(5000);
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
    ASSERT_TRUE(arrived) << central->link()->dropped() << " dropped";
    EXPECT_EQ(central->link()->dropped(), 10'000);
    EXPECT_EQ(central->board.ids().join(" "), "posto-1 posto-2");
    EXPECT_TRUE(central->window.summaryText().startsWith(before)) << central->window.summaryText().toStdString();
    EXPECT_LT(probe.longest, 500);
    EXPECT_EQ(journaled("count(*)", "acao = 'MQTT' AND resultado = 'mensagens ignoradas'"), "1");
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
            QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; });
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
    MqttLink post(
        settings,
        [&](Sign kind, Origin, const QString& request) {
            chosen << signCaption(kind) + " " + request;
            return SendOutcome::Sent;
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
}

} // namespace
