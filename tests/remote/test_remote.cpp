// SPDX-License-Identifier: GPL-3.0-or-later
#include "post_rig.h"
#include "private_bus.h"
#include "qt_printing.h"
#include "remote/dbus_remote.h"
#include "remote/local_requests.h"
#include "remote/panel_requests.h"
#include "serial/port_devices.h"

#include <QDBusInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>

#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct DoorTest : ::testing::Test, PostRig {};

// Keeps what a D-Bus signal carried.
class SignalLog final : public QObject {
    Q_OBJECT
public:
    QStringList values;
public slots:
    void take(const QString& value) { values << value; }
};

// The running copy's door: each request has its answer, anything else is refused without
// effect, and a socket left by a killed copy is taken over.
TEST_F(DoorTest, TheLocalDoorAnswersItsRequestsAndNothingElse)
{
    start();
    port.clearRecord();
    PanelRequests requests(post->session);
    int raised = 0;
    LocalRequests door(requests, [&raised] { ++raised; });
    const QString name = home.filePath("door.socket");
    QFile left(name);
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.close();
    ASSERT_EQ(door.listen(name), std::nullopt);
    // The client waits for its answer, so it runs beside the loop that serves it.
    const auto ask = [&](const QString& request) {
        auto reply = std::async(std::launch::async, [&] { return LocalRequests::ask(request, 5000, name); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 6000));
        const auto answer = reply.get();
        return answer ? QString::number(answer->code) + "|" + answer->text : QString("none");
    };
    for (const auto& [request, answer, sent] :
         {std::tuple{QString("raise"), QString("0|"), std::string()},
          {"estado",
           "0|sinal: Parar\nmodo: multicor\ncor: \nporta: COM1\ndispositivo: " + deviceForPort(1) + "\nligacao: ligação em ordem\nultima_falha: \neco: desligado\nresta_s:", ""},
          {"sinal frente", "0|", frames::sign[1]},
          {"sinal nada", "2|\"nada\" não é um sinal: Parar, Frente, Esquerda, Direita, Xadrez ou 1 a 5", ""},
          {"Sinal 1", "2|pedido desconhecido", ""},
          {QString(2000, 'x'), "2|pedido demasiado longo", ""}}) {
        EXPECT_EQ(ask(request), answer) << request.left(20).toStdString();
        EXPECT_EQ(port.sent(), sent) << request.left(20).toStdString();
        port.clearRecord();
    }
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(ask("estado").left(2), "0|");
    EXPECT_EQ(LocalRequests::ask("estado", 1000, home.filePath("none.socket")), std::nullopt);
}

// The running copy answers no other user's program, even through a socket whose permissions
// were opened to all: the request is dropped, and nothing goes to the panel. The system service's
// door answers its group's members too, and still nobody else.
TEST_F(DoorTest, TheDoorAnswersNoOtherUser)
{
    if (::geteuid() != 0) GTEST_SKIP() << "plays another user, which needs root";
    start();
    PanelRequests requests(post->session);
    const QString folder = home.filePath("porta");
    using P = QFileDevice;
    ASSERT_TRUE(QDir().mkpath(folder) && QFile::setPermissions(folder, P::ReadOwner | P::WriteOwner | P::ExeOwner | P::ExeGroup | P::ExeOther));
    QFile::setPermissions(home.path(), QFile::permissions(home.path()) | P::ExeGroup | P::ExeOther);
    using Access = LocalRequests::Access;
    for (const auto& [access, inGroup, answered] : {std::tuple{Access::User, true, false}, {Access::Group, false, false}, {Access::Group, true, true}}) {
        LocalRequests door(requests, [] {});
        const QString socket = folder + QStringLiteral("/porta-%1-%2.socket").arg(int(access)).arg(inGroup);
        ASSERT_EQ(door.listen(socket, access), std::nullopt);
        ASSERT_TRUE(QFile::setPermissions(socket, P::ReadOwner | P::WriteOwner | P::ReadGroup | P::WriteGroup | P::ReadOther | P::WriteOther));
        port.clearRecord();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path - 1);
        const gid_t group = ::getegid();
        const pid_t client = ::fork();
        if (client == 0) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgroups(inGroup ? 1 : 0, &group) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0
                || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                ::_exit(1);
            (void)::write(fd, "sinal Frente\n", 13);
            char reply[64];
            ::_exit(::read(fd, reply, sizeof reply) <= 0 ? 0 : 2); // 0: dropped without a word
        }
        int status = -1;
        ASSERT_TRUE(QTest::qWaitFor([&] { return ::waitpid(client, &status, WNOHANG) == client; }, 10000));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (answered ? 2 : 0)) << status;
        EXPECT_EQ(port.sent(), answered ? frames::sign[1] : "");
    }
}

// The same on the session bus: each sign by its caption or its place goes as a click's frames,
// a failed send and an unknown name have their errors, and the state is read and followed.
TEST_F(DoorTest, TheSessionBusChoosesSignsAndTellsTheState)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "needs dbus-daemon (scripts/deps.sh)";
    start();
    QDBusConnection served = QDBusConnection::connectToBus(bus.address, "served");
    DBusRemote remote(post->session);
    ASSERT_EQ(remote.start(served), std::nullopt);
    QDBusConnection test = QDBusConnection::connectToBus(bus.address, "test");
    // A client waits for the replies of a program that serves on this very event loop: it runs
    // beside it, and the loop goes on until it has its answer.
    const auto onBus = [&](const std::function<QVariant(QDBusInterface&)>& use) {
        auto reply = std::async(std::launch::async, [&] {
            QDBusInterface panel(dbusService, dbusPath, dbusInterface, test);
            return use(panel);
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
        return reply.get();
    };
    const auto call = [&](const QString& method, const QVariant& argument) {
        return onBus([&](QDBusInterface& panel) { return QVariant::fromValue(panel.call(method, argument)); }).value<QDBusMessage>();
    };
    const auto property = [&](const char* name) { return onBus([&](QDBusInterface& panel) { return panel.property(name); }).toString(); };
    SignalLog changed;
    ASSERT_TRUE(test.connect(dbusService, dbusPath, dbusInterface, "SignChanged", &changed, SLOT(take(QString))));
    // An unknown name of 10 KiB comes back cut to 64 characters.
    const QDBusMessage unknown = call("ShowSign", QString(10240, 'x'));
    EXPECT_EQ(unknown.errorName() + " " + unknown.errorMessage(),
              dbusUnknownSign + " \"" + QString(64, 'x') + "…\" não é um sinal: Parar, Frente, Esquerda, Direita, Xadrez ou 1 a 5");
    port.openError = LineError::CouldNotOpenDevice;
    const QDBusMessage failed = call("ShowSign", QString("Esquerda"));
    EXPECT_EQ(failed.errorName(), dbusSendFailed);
    EXPECT_TRUE(failed.errorMessage().startsWith("Esquerda não foi enviado: Permission denied")) << failed.errorMessage().toStdString();
    EXPECT_EQ(property("LinkState"), "porta não abre");
    port.openError.reset();
    for (const auto& [method, argument, index] : {std::tuple{"ShowSign", QVariant("frente"), 1}, {"ShowSignIndex", QVariant(3), 3}}) {
        port.clearRecord();
        EXPECT_EQ(call(method, argument).type(), QDBusMessage::ReplyMessage) << method;
        EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]) << method;
    }
    for (const char* again : {"5", "xadrez"}) EXPECT_EQ(call("ShowSign", QString(again)).type(), QDBusMessage::ReplyMessage) << again;
    EXPECT_EQ(property("Sign") + "|" + property("LinkState"), "Xadrez|ligação em ordem");
    // Each change of the chosen sign, sent or not; the same sign again is no change.
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.values.join(" ") == "Esquerda Frente Esquerda Xadrez"; }, 5000)) << changed.values.join(" ").toStdString();
    EXPECT_EQ(journaled("group_concat(DISTINCT origem)", "acao = 'sinal'"), "remoto");
    QDBusConnection::disconnectFromBus("test");
    QDBusConnection::disconnectFromBus("served");
}

} // namespace

#include "test_remote.moc"
