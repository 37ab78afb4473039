// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/about_box.h"
#include "app/main_window.h"
#include "app/panel_program.h"
#include "app/startup.h"
#include "app/status_bar.h"
#include "fake_serial_port.h"
#include "journal_rows.h"
#include "journal_window/journal_window.h"
#include "mqtt_broker.h"
#include "platform/single_instance.h"
#include "private_bus.h"
#include "program_home.h"
#include "pty_pair.h"
#include "qt_printing.h"
#include "remote/dbus_remote.h"
#include "remote/local_requests.h"
#include "remote/post_mqtt_client.h"
#include "serial/port_devices.h"
#include "settings_dialogs/more_options_dialog.h"
#include "settings_dialogs/preferences_dialog.h"
#include "settings_dialogs/serial_ports_window.h"
#include "stalled_line.h"
#include "widgets/panel_preview.h"
#include "widgets/twips.h"

#include <QDBusInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `action` on whichever modal dialog opens next, from inside its own event loop.
void onNextModal(const std::function<void(QWidget*)>& action)
{
    QTimer::singleShot(0, qApp, [action] {
        if (QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; })) action(QApplication::activeModalWidget());
    });
}

struct MainWindowTest : ::testing::Test {
    QTemporaryDir home;
    FakeSerialPort port;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<PanelProgram> program;
    MainWindow* form = nullptr;

    void start(const QString& journalFile = {})
    {
        program.reset();
        journal = std::make_unique<Journal>(journalFile.isEmpty() ? home.filePath("registo.sqlite") : journalFile);
        program = std::make_unique<PanelProgram>(QStringLiteral("Caption"), port, home.filePath("pref.vyr"), journal.get());
        form = &program->window;
        form->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return program->session.started(); }));
    }
    [[nodiscard]] QString panel(int n) const { return form->panelStatusBar().panelText(n); }
    void writeConf(const QByteArray& text) const
    {
        QFile conf(home.filePath("painel-sinaletico.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly) && conf.write(text) == text.size());
    }
    // The journal's rows that match `where`, once all recorded so far is written.
    [[nodiscard]] QString journaled(const QString& columns, const QString& where) const
    {
        journal->flush();
        return journalRows(journal->fileName(), columns, where).join(", ");
    }
};

TEST_F(MainWindowTest, StartUpSendsThePanelItsFirstSignOnceAndExitClosesTheWindow)
{
    writeConf("[keepalive]\ninterval_s=5\n[journal]\nretention_days=30\n");
    for (const int daysAgo : {31, 29}) {
        Journal old(home.filePath("registo.sqlite"));
        JournalEntry e;
        e.when = QDateTime::currentDateTime().addDays(-daysAgo);
        e.action = "antiga";
        old.record(e);
    }
    const QDateTime before = QDateTime::currentDateTime();
    start();
    const QDateTime after = QDateTime::currentDateTime();
    for (const auto& [n, format] : {std::pair{3, "dd-MM-yyyy"}, std::pair{4, "HH:mm"}})
        EXPECT_TRUE(panel(n) == before.toString(format) || panel(n) == after.toString(format)) << panel(n).toStdString();
    EXPECT_TRUE(form->signButton(Sign::Stop).isChecked());
    EXPECT_EQ(form->windowTitle() + "|" + panel(1) + "|" + panel(2), "Caption|" + QString(29, ' ') + "|COM1:");
    EXPECT_EQ(port.sent(), frames::startup + " " + frames::sign[0]);
    // Activation comes again (a dialog closing, the window refocused): no second start-up.
    port.clearRecord();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form, &activate);
    EXPECT_EQ(port.sent(), "");
    QStringList menu;
    for (const QAction* item : form->findChild<QMenu*>("MNU_OPTIONS_TOP")->actions()) menu << item->text();
    EXPECT_EQ(menu.join(", "), "&Preferências, Portas &série…, &Mais opções…, &Teste do painel, &Registo…, &Linha do tempo…, , Sa&ir");
    EXPECT_EQ(form->findChild<QAction*>("MNU_JOURNAL")->shortcut(), QKeySequence("Ctrl+R"));
    EXPECT_EQ(program->session.keepAliveSeconds(), 5); // from painel-sinaletico.conf
    EXPECT_EQ(journaled("count(*)", "acao = 'antiga'"), "1");
    // Escape ends the lamp test at once and puts the chosen sign back.
    form->findChild<QAction*>("MNU_LAMPTEST")->trigger();
    port.clearRecord();
    QTest::keyClick(form, Qt::Key_Escape);
    EXPECT_EQ(port.sent(), frames::sign[0]);
    EXPECT_FALSE(program->session.lampTestRunning());
    EXPECT_EQ(journaled("origem, acao, resultado", "origem IN ('teste', 'teclado')"),
              "teste|início do teste do painel|enviado, teste|fim do teste do painel|interrompido, teste|sinal|enviado");
    // Lowered, the retention applies at once.
    onNextModal([](QWidget* dialog) {
        dialog->findChild<QSpinBox*>("retention")->setValue(28);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    form->findChild<QAction*>("MNU_MORE")->trigger();
    EXPECT_EQ(journaled("count(*)", "acao = 'antiga'"), "0");
    auto* exit = form->findChild<QAction*>("MNU_EXIT");
    EXPECT_EQ(exit->shortcut(), QKeySequence("Ctrl+X"));
    exit->trigger();
    EXPECT_FALSE(form->isVisible());
}

// In every window each access key belongs to one control (Alt+F is "Só falhas" in "Registo",
// never also "Fechar"), and none is left on a control the keyboard cannot reach.
TEST_F(MainWindowTest, EveryWindowGivesEachAccessKeyOnce)
{
    start();
    form->findChild<QAction*>("MNU_JOURNAL")->trigger();
    MoreSettings more;
    PanelSettings settings;
    const PreferencesDialog preferences(settings, home.filePath("pref.vyr"));
    const MoreOptionsDialog moreOptions(more, home.filePath("painel-sinaletico.conf"), {"x"}, "MQTT: ligado");
    const SerialPortsWindow ports([&](std::int16_t n) { return program->session.lastFailure(n); });
    const AboutBox about;
    const auto keysOf = [](const QWidget& window) {
        QStringList keys;
        for (const QAbstractButton* b : window.findChildren<QAbstractButton*>()) keys << QKeySequence::mnemonic(b->text()).toString();
        for (const QLabel* l : window.findChildren<QLabel*>()) keys << QKeySequence::mnemonic(l->text()).toString();
        for (const QGroupBox* g : window.findChildren<QGroupBox*>()) keys << QKeySequence::mnemonic(g->title()).toString();
        for (const QMenuBar* bar : window.findChildren<QMenuBar*>())
            for (const QAction* a : bar->actions()) keys << QKeySequence::mnemonic(a->text()).toString();
        keys.removeAll(QString());
        return keys;
    };
    QStringList menu;
    for (const QAction* a : form->findChild<QMenu*>("MNU_OPTIONS_TOP")->actions()) menu << QKeySequence::mnemonic(a->text()).toString();
    menu.removeAll(QString());
    for (const auto& [name, keys] : {std::pair{"Form1", keysOf(*form)},
                                     {"Opções", menu},
                                     {"Registo", keysOf(*form->journalWindow())},
                                     {"Preferências", keysOf(preferences)},
                                     {"Mais opções", keysOf(moreOptions)},
                                     {"Portas série", keysOf(ports)},
                                     {"Sobre", keysOf(about)}}) {
        // "Preferências" and "Sobre" have the original design's captions, with no access keys.
        EXPECT_NE(keys.isEmpty(), std::string(name) != "Preferências" && std::string(name) != "Sobre") << name;
        EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << name << ": " << keys.join(" ").toStdString();
    }
}

// The buttons stand in screen order; each sends its own sign, and the chosen one again.
TEST_F(MainWindowTest, EachButtonSendsItsSign)
{
    start();
    for (const std::int16_t index : {1, 3, 2, 0, 4, 4}) {
        port.clearRecord();
        QRadioButton& button = form->signButton(Sign(index));
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(8, button.height() / 2));
        EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]);
    }
    EXPECT_EQ(journaled("origem, sinal", "acao = 'sinal'"), "rato|Frente, rato|Esquerda, rato|Direita, rato|Parar, rato|Xadrez, rato|Xadrez");
}

// A sign chosen elsewhere (the local door, D-Bus, MQTT) shows as chosen on the window too, and the
// session's standing notes are in panel 1's tooltip.
TEST_F(MainWindowTest, TheWindowShowsWhatChoseTheSignElsewhere)
{
    start();
    for (const Sign sign : {Sign::Right, Sign::Chequer}) {
        program->session.chooseSign(sign, Origin::Remote);
        EXPECT_TRUE(form->signButton(sign).isChecked());
    }
    program->session.setMqttNote("MQTT: sem ligação a x");
    EXPECT_TRUE(form->panelStatusBar().panel(1).toolTip().endsWith("MQTT: sem ligação a x")) << form->panelStatusBar().panel(1).toolTip().toStdString();
}

// Panel 1 shows either link message whole, and is never narrower than designed, in the
// desktop's font and in larger ones: the window grows instead. (Also run at scales 1.5 and 2.)
TEST_F(MainWindowTest, StatusPanel1ShowsEveryLinkMessageWholeInAnyDesktopFont)
{
    const QFont desktop = QApplication::font();
    for (const qreal points : {desktop.pointSizeF(), 12.0, 13.5, 18.0}) {
        QFont font = desktop;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        start();
        const QLabel& panel1 = form->panelStatusBar().panel(1);
        for (const std::string& message : {openFailureText, writeFailureText}) {
            form->panelStatusBar().setPanelText(1, message);
            EXPECT_GE(panel1.contentsRect().width(), panel1.fontMetrics().horizontalAdvance(QString::fromStdString(message))) << message << " at " << points << " pt";
        }
        EXPECT_GE(panel1.width(), twips(2725)) << points;
    }
    // The reason is where the keyboard and a screen reader reach it too.
    form->panelStatusBar().setPanelToolTip(1, "adaptador desligado?");
    EXPECT_EQ(form->panelStatusBar().panel(1).accessibleDescription(), "adaptador desligado?");
    QApplication::setFont(desktop);
}

// The keys 1 to 5 (main row or keypad) send exactly their sign; the arrows only move the focus;
// Space and Enter send the focused sign, and so does the accessibility action, once.
TEST_F(MainWindowTest, KeysAndAssistiveTechnologySendOnlyTheSignChosen)
{
    start();
    EXPECT_EQ(program->session.keepAliveSeconds(), 0); // off unless set
    const std::array<std::int16_t, 5> screenOrder{0, 1, 3, 2, 4};
    for (int key = 1; key <= 5; ++key)
        for (const auto modifier : {Qt::NoModifier, Qt::KeypadModifier}) {
            const std::int16_t index = screenOrder[std::size_t(key - 1)];
            port.clearRecord();
            QTest::keyClick(form, Qt::Key(Qt::Key_0 + key), modifier);
            EXPECT_EQ(port.sent() + (form->signButton(Sign(index)).isChecked() ? "" : " unchosen"), frames::sign[std::size_t(index)]) << key;
            EXPECT_EQ(form->signButton(Sign(index)).toolTip(), QStringLiteral("Tecla %1").arg(key));
        }
    form->signButton(Sign::Stop).setFocus();
    port.clearRecord();
    // Round both ends: up to the last button, down to the first, then two down.
    for (const Qt::Key arrow : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) QTest::keyClick(QApplication::focusWidget(), arrow);
    EXPECT_EQ(port.sent(), "");
    EXPECT_TRUE(form->signButton(Sign::Chequer).isChecked());
    for (const auto& [key, index] : {std::pair{Qt::Key_Space, 3}, {Qt::Key_Return, 3}, {Qt::Key_Enter, 3}}) {
        port.clearRecord();
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]);
    }
    port.clearRecord();
    QAccessible::queryAccessibleInterface(&form->signButton(Sign::Right))->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(port.sent() + (form->signButton(Sign::Right).isChecked() ? "" : " unchosen"), frames::sign[2]);
    EXPECT_EQ(journaled("group_concat(origem, ' ')", "acao = 'sinal'"), QStringList(13, "teclado").join(" ") + " acessibilidade");
    QStringList names;
    const QList<QWidget*> named{form->findChild<QGroupBox*>("Frame1"), &form->signButton(Sign::Left),    &form->preview(),
                                &form->panelStatusBar().panel(1),      &form->panelStatusBar().panel(2), &form->panelStatusBar().panel(3),
                                &form->panelStatusBar().panel(4)};
    for (QWidget* w : named) names << QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    EXPECT_EQ(names.join("|"), "Sinal|Esquerda|Pré-visualização do painel|Estado da ligação|Porta|Data|Hora");
    // A key held down sends its sign once, however the repeats come: marked as such, or as X
    // sends them, release-press pairs of one time that Qt may not recognise.
    const auto key = [](QWidget* target, bool press, Qt::Key code, const QString& text, ulong time, bool marked) {
        if (press && qt_sendShortcutOverrideEvent(target, time, code, {}, text, marked)) return;
        QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, code, {}, text, marked);
        event.setTimestamp(time);
        QApplication::sendEvent(target, &event);
    };
    for (const bool marked : {true, false})
        for (const auto& [code, text, target, index] : {std::tuple{Qt::Key_3, "3", static_cast<QWidget*>(form), 3},
                                                        {Qt::Key_Space, " ", &form->signButton(Sign::Right), 2},
                                                        {Qt::Key_Return, "\r", &form->signButton(Sign::Ahead), 1}}) {
            target->setFocus();
            port.clearRecord();
            ulong time = 1000;
            key(target, true, code, text, time, false);
            for (int repeat = 0; repeat < 5; ++repeat, time += 40)
                for (const bool press : {false, true}) key(target, press, code, text, time, marked);
            key(target, false, code, text, time + 300, false);
            EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]) << text << (marked ? " marked" : " as X sends them");
        }
}

// No key that moves the focus sends a sign or changes the chosen one: each arrow, Home, End,
// Page Up and Down, Tab and Shift+Tab (also from the keypad), from either end of the row, from the
// preview and with nothing focused.
TEST_F(MainWindowTest, NoKeyThatMovesTheFocusChoosesASign)
{
    start();
    form->signButton(Sign::Left).click();
    port.clearRecord();
    // Every key that moves the focus or the selection, on the keypad too, and Tab both ways.
    std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys{{Qt::Key_Tab, {}}, {Qt::Key_Backtab, Qt::ShiftModifier}};
    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown})
        for (const Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::KeypadModifier)}) keys.emplace_back(key, modifiers);
    const std::vector<std::pair<const char*, QWidget*>> starts{{"top button", &form->signButton(Sign::Stop)},
                                                               {"bottom button", &form->signButton(Sign::Chequer)},
                                                               {"chosen button", &form->signButton(Sign::Left)},
                                                               {"preview", &form->preview()},
                                                               {"nothing", nullptr}};
    for (const auto& [where, widget] : starts)
        for (const auto& [key, modifiers] : keys) {
            if (widget != nullptr) widget->setFocus();
            else if (QApplication::focusWidget() != nullptr) QApplication::focusWidget()->clearFocus();
            QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : static_cast<QWidget*>(form), key, modifiers);
            EXPECT_EQ(port.sent(), "") << where << " " << QKeySequence(key | modifiers).toString().toStdString();
            EXPECT_TRUE(form->signButton(Sign::Left).isChecked()) << where << " " << QKeySequence(key | modifiers).toString().toStdString();
        }
}

TEST(AboutBox, ShowsItsTextsWithOkFocused)
{
    AboutBox about;
    about.show();
    EXPECT_EQ(about.windowTitle() + "|" + about.findChild<QLabel*>("Label1")->text() + "|" + about.findChild<QLabel*>("Label4")->text() + "|" + about.focusWidget()->objectName(),
              "Sobre ...|Controlo do painel sinalético|Maio de 2003|OKButton");
    EXPECT_EQ(about.size(), QSize(393, 146)); // 5889 x 2184 twips, to the nearest pixel
    EXPECT_TRUE(about.findChild<QLabel*>("Label1")->font().bold() && !about.findChild<QLabel*>("Label4")->font().bold());
}

// After the dialog, by Cancel or by OK, the port is opened and closed once, sending nothing; OK
// on COM2 switches the status bar and the next open at once.
TEST_F(MainWindowTest, PreferencesThenThePortIsTriedOnceWithoutRepeatingTheStartUp)
{
    start();
    auto* prefs = form->findChild<QAction*>("MNU_PREFS");
    EXPECT_EQ(prefs->shortcut(), QKeySequence("Ctrl+P"));
    for (const auto& [button, port1] : {std::pair{"CancelButton", 1}, std::pair{"OKButton", 2}}) {
        port.clearRecord();
        form->panelStatusBar().setPanelText(2, "stale");
        onNextModal([button = button](QWidget* dialog) {
            dialog->findChild<QComboBox*>("Combo1")->setCurrentIndex(1);
            dialog->findChild<QPushButton*>(button)->click();
        });
        prefs->trigger();
        EXPECT_EQ(panel(2), QStringLiteral("COM%1:").arg(port1));
        EXPECT_EQ(port.calls, (std::vector<std::string>{"setPortNumber " + std::to_string(port1), "open", "close"}));
        EXPECT_EQ(port.sent(), "");
    }
    EXPECT_TRUE(QFile::exists(home.filePath("pref.vyr")));
    EXPECT_EQ(journaled("origem, acao, porta, pormenor", "acao = 'preferências'"), "operador|preferências|COM2|porta COM1: → COM2:");
}

// A journal that cannot be kept changes nothing on the line: the operator is told once, in panel
// 1's tooltip whatever the link puts there, and in the journal window.
TEST_F(MainWindowTest, AJournalThatCannotBeKeptIsSaidAndTheSignsStillGo)
{
    start("/proc/self/painel-sinaletico/registo.sqlite");
    const QLabel& panel1 = form->panelStatusBar().panel(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel1.toolTip().startsWith("O registo não está a ser guardado"); }, 2000)) << panel1.toolTip().toStdString();
    port.openError = LineError::CouldNotOpenDevice;
    form->signButton(Sign::Ahead).click();
    port.openError.reset();
    EXPECT_EQ(panel1.toolTip().split("\n\n").first(), "Permission denied");
    EXPECT_TRUE(panel1.toolTip().contains("O registo não está a ser guardado")) << panel1.toolTip().toStdString();
    port.clearRecord();
    form->signButton(Sign::Left).click();
    EXPECT_EQ(port.sent(), frames::sign[3]);
    form->findChild<QAction*>("MNU_JOURNAL")->trigger();
    const QLabel* problem = form->journalWindow()->findChild<QLabel*>("journalProblem");
    EXPECT_TRUE(problem->isVisible() && problem->text().startsWith("O registo não está a ser guardado")) << problem->text().toStdString();
}

TEST(StartUp, ASecondCopyIsToldSoInTheInfoBox)
{
    const auto box = secondCopyMessage();
    EXPECT_EQ(box->windowTitle() + "|" + box->text(), "Info|Sorry! Para esse já dei..;-).");
}

// Another user's program answering at a door: listens at `path` as user `uid` and answers every
// request with `reply`, as a copy of ours would. Gone with the test.
struct OtherUsersDoor {
    pid_t pid = -1;
    bool listening = false;

    OtherUsersDoor(const QString& path, uid_t uid, const QByteArray& reply)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgid(uid) != 0 || ::setuid(uid) != 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) ::_exit(1);
            (void)::write(ready[1], "x", 1);
            for (char request[256];;) {
                const int client = ::accept(fd, nullptr, nullptr);
                if (client < 0) continue;
                (void)::read(client, request, sizeof request);
                (void)::write(client, reply.constData(), std::size_t(reply.size()));
                ::close(client);
            }
        }
        ::close(ready[1]);
        char x = 0;
        listening = pid > 0 && ::read(ready[0], &x, 1) == 1;
        ::close(ready[0]);
    }
    ~OtherUsersDoor()
    {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    OtherUsersDoor(const OtherUsersDoor&) = delete;
    OtherUsersDoor& operator=(const OtherUsersDoor&) = delete;
};

// The command line believes only a door in a folder of this user's alone, answered by a process
// of this user's: another user who made the folder first, or whose door is found in ours, gets
// exit status 4 and the reason; one who lies in wait where an older version looked is ignored.
// Nobody ever hears "enviado" from a program that is not the user's.
TEST(LocalDoor, TheCommandLineBelievesNoOtherUsersProgram)
{
    if (::geteuid() != 0) GTEST_SKIP() << "plays another user, which needs root";
    constexpr uid_t other = 65534; // nobody
    const QByteArray lie = "0\nParar enviado (falso)";
    const auto own = [](const QString& path, uid_t uid, QFileDevice::Permissions permissions) {
        return QDir().mkpath(path) && ::chown(QFile::encodeName(path).constData(), uid, uid) == 0 && QFile::setPermissions(path, permissions);
    };
    const QFileDevice::Permissions mine = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFileDevice::Permissions everybodys = mine | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    struct Case {
        const char* what;
        QString runtime; // XDG_RUNTIME_DIR, under the scratch folder; none when empty
        QString folder;  // made first by the other user, under the scratch folder
        QString door;    // where the other user listens
        QString movedTo; // and where that door is then found
        int code;
        QString says;
    };
    const std::vector<Case> cases{
        {"the folder made first", {}, "painel-sinaletico-0", "painel-sinaletico-0/painel-sinaletico.socket", {}, 4, "painel-sinaletico-0 é de nobody, não deste utilizador"},
        {"where an older version looked", {}, "runtime-root", "painel-sinaletico-0.socket", {}, 3, "não está a correr"},
        {"a runtime folder open to all", "aberta", "aberta", "aberta/painel-sinaletico.socket", {}, 3, "não está a correr"},
        {"its door in the user's folder", "minha", {}, "aberta/porta", "minha/painel-sinaletico.socket", 4, "na outra ponta é de nobody, não deste utilizador"},
    };
    for (const Case& c : cases) {
        QTemporaryDir scratch;
        ASSERT_TRUE(QFile::setPermissions(scratch.path(), everybodys));
        const auto at = [&](const QString& name) { return scratch.filePath(name); };
        if (!c.folder.isEmpty()) {
            ASSERT_TRUE(c.folder == "aberta" ? own(at(c.folder), 0, everybodys) : own(at(c.folder), other, mine));
        }
        if (!c.movedTo.isEmpty()) {
            ASSERT_TRUE(own(at("aberta"), other, everybodys) && own(at("minha"), 0, mine));
        }
        const OtherUsersDoor door(at(c.door), other, lie);
        ASSERT_TRUE(door.listening) << c.what;
        if (!c.movedTo.isEmpty()) {
            ASSERT_TRUE(QFile::rename(at(c.door), at(c.movedTo)));
        }
        ProgramHome home;
        QProcessEnvironment env = home.environment();
        env.insert("TMPDIR", scratch.path());
        if (c.runtime.isEmpty()) env.remove("XDG_RUNTIME_DIR");
        else env.insert("XDG_RUNTIME_DIR", at(c.runtime));
        QProcess line;
        line.setProcessEnvironment(env);
        line.start(PAINEL_SINALETICO_PATH, {"--sinal", "Parar"});
        ASSERT_TRUE(line.waitForFinished(20000)) << c.what;
        const QString said = QString::fromUtf8(line.readAllStandardOutput() + line.readAllStandardError());
        EXPECT_EQ(line.exitCode(), c.code) << c.what << ": " << said.toStdString();
        EXPECT_TRUE(said.contains(c.says) && !said.contains("falso")) << c.what << ": " << said.toStdString();
    }
}

TEST(StartUp, ALockPlaceThatCannotBeWrittenGivesWayToTheNext)
{
    QTemporaryDir dir;
    // /proc takes no new files, not even root's, as a read-only runtime folder would not.
    const QStringList places{"/proc/painel-sinaletico.lock", dir.filePath("painel-sinaletico.lock")};
    SingleInstance first(places), second(places);
    EXPECT_TRUE(first.acquire());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(SingleInstance({places[0]}).acquire()); // nowhere to lock: it starts all the same
    // A lock left by a dead copy whose process id is now this one's.
    const QString left = dir.filePath("left.lock");
    QFile file(left);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("%1\n%2\n%3\n").arg(QCoreApplication::applicationPid()).arg(QCoreApplication::applicationName(), QSysInfo::machineHostName()).toUtf8());
    file.close();
    SingleInstance successor({left});
    EXPECT_TRUE(successor.acquire());
    EXPECT_FALSE(SingleInstance({left}).acquire());
}

struct ProgramTest : ::testing::Test {
    ProgramHome home;
    PtyPair com1;
    std::vector<std::unique_ptr<QProcess>> processes;
    QDeadlineTimer deadline{20000};

    void TearDown() override
    {
        // Newest first: the programs before the display server they draw on.
        for (auto p = processes.rbegin(); p != processes.rend(); ++p) {
            (*p)->kill();
            (*p)->waitForFinished(5000);
        }
    }
    QProcess& start(const QString& program, const QStringList& arguments = {}, const QProcessEnvironment& env = {})
    {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessEnvironment(env.isEmpty() ? home.environment() : env);
        processes.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        processes.back()->start(program, arguments);
        EXPECT_TRUE(processes.back()->waitForStarted(10000));
        return *processes.back();
    }
    // The monitor's next line, time stamp taken off, or nothing once the deadline has passed.
    std::optional<QString> nextLine(QProcess& monitor)
    {
        while (!monitor.canReadLine())
            if (deadline.hasExpired() || !monitor.waitForReadyRead(int(deadline.remainingTime()))) return std::nullopt;
        return QString::fromUtf8(monitor.readLine()).chopped(1).remove(QRegularExpression("^\\d+\\.\\d{3}  (?=A5)"));
    }
    // The command line run as another program runs it: its exit code and all it said.
    static std::pair<int, QString> command(const QProcessEnvironment& env, const QStringList& arguments)
    {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(PAINEL_SINALETICO_PATH, arguments);
        EXPECT_TRUE(cli.waitForFinished(15000)) << arguments.join(' ').toStdString();
        return std::pair{cli.exitCode(), QString::fromUtf8(cli.readAll()).trimmed()};
    }
};

// A bare X server: no window manager ever activates the window, yet the panel must be set up.
// The refusal of a second copy is a message box the operator must dismiss, after which the
// running copy comes forward, even from minimised.
TEST_F(ProgramTest, OnABareXServerStartsAndRefusesASecondCopy)
{
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    QProcess& server = start(QStandardPaths::findExecutable("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForReadyRead(10000) && !xdotool.isEmpty()) << "needs Xvfb and xdotool (scripts/deps.sh)";
    QProcessEnvironment env = home.environment("xcb");
    env.insert("DISPLAY", ":" + QString::fromLatin1(server.readLine()).trimmed());
    ASSERT_TRUE(home.linkPort(1, QString::fromStdString(com1.slavePath())));
    QProcess& first = start(PAINEL_SINALETICO_PATH, {}, env);
    EXPECT_EQ(hexBytes(com1.read(57, 10000)), frames::startup + " " + frames::sign[0]);
    // A window manager arrives and the operator minimises the window.
    start(QStandardPaths::findExecutable("openbox"), {}, env);
    // xdotool dies of an X error when a window it looks at goes away meanwhile (the window
    // manager reparents them all), sometimes after it has done its work: a try that failed is
    // made again while its work is not done.
    const auto xdo = [&](const QStringList& arguments, const std::function<bool()>& done) {
        for (int attempt = 0; attempt < 5 && !done(); ++attempt) {
            QProcess& run = start(xdotool, arguments, env);
            if (run.waitForFinished(15000) && run.exitCode() == 0) return true;
        }
        return done();
    };
    const auto never = [] { return false; };
    // Minimised for sure only once the window manager has taken the window on.
    const auto hidden = [&] {
        QProcess& look = start(xdotool, {"search", "--onlyvisible", "--name", "^Tramonda"}, env);
        return look.waitForFinished(5000) && look.exitCode() != 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return xdo({"search", "--sync", "--name", "^Tramonda", "windowminimize", "--sync", "%1"}, never) && hidden();
        },
        10000))
        << "needs openbox (scripts/deps.sh)";
    QProcess& second = start(PAINEL_SINALETICO_PATH, {}, env);
    // The operator dismisses the box with Escape; a second main window would have sent its own
    // start-up on the line. The running copy then comes forward.
    const auto secondEnded = [&](int ms) { return second.state() == QProcess::NotRunning || second.waitForFinished(ms); };
    xdo({"search", "--sync", "--onlyvisible", "--name", "^Info$", "windowactivate", "--sync", "%1", "key", "--window", "%1", "Escape"}, [&] { return secondEnded(500); });
    ASSERT_TRUE(secondEnded(10000));
    EXPECT_EQ(std::pair(second.exitStatus(), second.exitCode()), std::pair(QProcess::NormalExit, 0));
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !hidden(); }, 5000));
    EXPECT_TRUE(com1.readAvailable().empty());
}

// A log-out, a shutdown, a kill or the display going away end the program as "Sair" does: the
// journal's last entries are written (here the start-up's, within their gathering time) and the
// exit status is 0.
TEST_F(ProgramTest, EndsAsSairDoesOnSignalsAndWhenTheDisplayGoes)
{
    ASSERT_TRUE(home.linkPort(1, QString::fromStdString(com1.slavePath())));
    const QString journal = home.dir.path() + "/.local/state/painel-sinaletico/registo.sqlite";
    int runs = 0;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, 0}) {
        QProcessEnvironment env = home.environment();
        QProcess* display = nullptr;
        if (signal == 0) {
            display = &start(QStandardPaths::findExecutable("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
            ASSERT_TRUE(display->waitForReadyRead(10000)) << "needs Xvfb (scripts/deps.sh)";
            env = home.environment("xcb");
            env.insert("DISPLAY", ":" + QString::fromLatin1(display->readLine()).trimmed());
        }
        QProcess& program = start(PAINEL_SINALETICO_PATH, {}, env);
        ASSERT_EQ(hexBytes(com1.read(57, 10000)), frames::startup + " " + frames::sign[0]) << signal;
        if (display != nullptr) display->kill();
        else ::kill(pid_t(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000)) << signal;
        EXPECT_EQ(std::pair(program.exitStatus(), program.exitCode()), std::pair(QProcess::NormalExit, 0)) << signal;
        EXPECT_EQ(journalRows(journal, "count(*)", "acao = 'arranque'"), QStringList{QString::number(++runs)}) << signal;
    }
}

// The start-up as the virtual panel prints it: the LED times and display_on while the matrix
// is still dark, then "Parar", its red X shown after the green plane and after display_on.
TEST_F(ProgramTest, TheMonitorShowsTheStartUpAndEndsCleanlyOnSignals)
{
    QStringList redX;
    for (const QString& row : QString::fromStdString(frames::picture[0]).split('\n', Qt::SkipEmptyParts)) redX << QStringList(row.split("", Qt::SkipEmptyParts)).join(' ');
    const QStringList log = QStringList{"A5 79 5A 75 E7  set_redled_time 25", "A5 79 5A 76 51  set_greenled_time 175", "A5 79 5A 71  display_on"}
                            + QStringList(8, ". . . . . . . .")
                            + QStringList{"A5 79 5A 75 E7  set_redled_time 25", "A5 79 5A 76 51  set_greenled_time 175", "A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3  red plane",
                                          "A5 79 5A 74 00 00 00 00 00 00 00 00  green plane"}
                            + redX + QStringList{"A5 79 5A 7B 04  set_sign_code 4", "A5 79 5A 71  display_on"} + redX;
    // The second time COM1 goes through the link the monitor keeps while it runs, as run.sh's.
    const QString kept = home.config() + "/virtual-com1";
    for (const auto& [arguments, signal] : {std::pair{QStringList{"--pty"}, SIGTERM}, {QStringList{"--pty", "--window", "--link", kept}, SIGINT}}) {
        QProcess& monitor = start(PAINEL_MONITOR_PATH, arguments);
        const QString device = nextLine(monitor).value_or("");
        QFile::remove(home.config() + "/com1");
        ASSERT_TRUE(device.startsWith("/dev/") && home.linkPort(1, arguments.size() > 2 ? kept : device)) << device.toStdString();
        QProcess& program = start(PAINEL_SINALETICO_PATH);
        for (const QString& want : log) EXPECT_EQ(nextLine(monitor).value_or("<nothing>"), want);
        EXPECT_FALSE(QFile::exists(home.config() + "/pref.vyr")); // reading the defaults writes nothing
        program.kill();
        ASSERT_TRUE(program.waitForFinished(5000));
        // Stopped by a signal, the monitor leaves the normal way and prints nothing more.
        ::kill(pid_t(monitor.processId()), signal);
        ASSERT_TRUE(monitor.waitForFinished(10000));
        EXPECT_EQ(std::pair(monitor.exitStatus(), monitor.exitCode()), std::pair(QProcess::NormalExit, 0));
        EXPECT_EQ(monitor.readAll(), QByteArray());
    }
    EXPECT_FALSE(QFileInfo(kept).isSymLink());
}

// Other programs choose signs through the program's local door (the command line): each sign, by
// its caption (case and accents not significant) or its place, reaches the line as a click's
// frames; a bad name, a failed send and no copy running each have their exit code and reason; and
// the program is on the session bus.
TEST_F(ProgramTest, SignsFromOtherProgramsGoAsClicks)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "needs dbus-daemon (scripts/deps.sh)";
    QProcessEnvironment env = home.environment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
    const auto command = [&](const QStringList& arguments) { return ProgramTest::command(env, arguments); };
    EXPECT_EQ(command({"--sinal", "Parar"}), std::pair(3, QString("o painel-sinaletico não está a correr nesta sessão")));
    ASSERT_TRUE(home.linkPort(1, QString::fromStdString(com1.slavePath())));
    start(PAINEL_SINALETICO_PATH, {}, env);
    EXPECT_EQ(hexBytes(com1.read(57 + 43)), frames::startup + " " + frames::sign[0]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return command({"--estado"}).first == 0; }, 10000));

    for (const auto& [name, index] : {std::pair{"frente", 1}, {"3", 3}, {"DIREITA", 2}, {" 1 ", 0}}) {
        EXPECT_EQ(command({"--sinal", name}), std::pair(0, QString())) << name;
        EXPECT_EQ(hexBytes(com1.read(frames::sign[std::size_t(index)].size() / 3 + 1)), frames::sign[std::size_t(index)]) << name;
    }
    for (const QStringList& bad : {QStringList{"--sinal", "nada"}, {"--sinal", "6"}, {"--sinal"}, {"--bogus"}, {"--sinal", "1", "--estado"}})
        EXPECT_EQ(command(bad).first, 2) << bad.join(' ').toStdString();
    EXPECT_EQ(command({"--estado"}).second, "sinal: Parar\nmodo: multicor\ncor: \nporta: COM1\ndispositivo: " + QString::fromStdString(com1.slavePath())
                                                + "\nligacao: ligação em ordem\nultima_falha: \neco: desligado\nresta_s:");
    EXPECT_EQ(command({"--version"}), std::pair(0, QString("painel-sinaletico " PAINEL_VERSION)));
    // The whole help in Portuguese, Qt's headings and its own options too; so the monitor's.
    for (const QString& program : {QString(PAINEL_SINALETICO_PATH), QString(PAINEL_MONITOR_PATH)}) {
        QProcess help;
        help.start(program, {"--help"});
        ASSERT_TRUE(help.waitForFinished(10000));
        const QString text = QString::fromUtf8(help.readAllStandardOutput());
        EXPECT_TRUE(text.startsWith("Uso: ") && text.contains("Opções:") && text.contains("Mostra a ajuda") && !text.contains("Usage")) << text.toStdString();
    }

    // A failed send has its exit code and reason.
    QFile::remove(home.config() + "/com1");
    ASSERT_TRUE(home.linkPort(1, home.dir.filePath("desligado")));
    const auto [failed, reason] = command({"--sinal", "Esquerda"});
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(reason.startsWith("Esquerda não foi enviado: ") && reason.contains("desligado")) << reason.toStdString();
    // The program has taken its name on the session bus, once its start-up was out.
    QDBusConnection test = QDBusConnection::connectToBus(bus.address, "test");
    QDBusInterface panel(dbusService, dbusPath, dbusInterface, test);
    EXPECT_EQ(panel.property("Sign").toString() + "|" + panel.property("LinkState").toString(), "Esquerda|porta não abre");
    const QString journal = home.dir.filePath(".local/state/painel-sinaletico/registo.sqlite");
    EXPECT_TRUE(QTest::qWaitFor([&] { return journalRows(journal, "origem, sinal", "acao = 'sinal'").size() == 5; }, 5000));
    EXPECT_EQ(journalRows(journal, "group_concat(DISTINCT origem)", "acao = 'sinal'"), QStringList{"remoto"});
    QDBusConnection::disconnectFromBus("test");
}

// The virtual panel's looped cable proves each sign; noisy or cut, the sign still goes out, but
// every way in says it is no proof: --estado, the command line's exit 5, D-Bus's NoEcho.
TEST_F(ProgramTest, TheVirtualPanelsEchoProvesEachSignOrSaysWhyNot)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "needs dbus-daemon (scripts/deps.sh)";
    QProcessEnvironment env = home.environment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
    QProcess& monitor = start(PAINEL_MONITOR_PATH, {"--pty", "--eco"});
    ASSERT_TRUE(home.linkPort(1, nextLine(monitor).value_or("")));
    QFile conf(home.config() + "/painel-sinaletico.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) && conf.write("[eco]\ncom1=true\n") > 0);
    conf.close();
    start(PAINEL_SINALETICO_PATH, {}, env);
    ASSERT_TRUE(QTest::qWaitFor([&] { return command(env, {"--estado"}).second.contains("\neco: confirmado\n"); }, 10000));
    // The monitor says in its log that it has taken each signal.
    const auto play = [&](int signal, const QString& said) {
        ::kill(pid_t(monitor.processId()), signal);
        for (auto line = nextLine(monitor); line; line = nextLine(monitor))
            if (line->endsWith(said)) return true;
        return false;
    };
    ASSERT_TRUE(play(SIGUSR2, "o próximo byte volta trocado"));
    EXPECT_EQ(command(env, {"--sinal", "Frente"}),
              std::pair(5, QString("Frente enviado, mas sem prova de que chegou ao painel: eco diferente em COM1 (o byte 1 de 43 voltou 5A em vez de A5): ruído na "
                                   "linha, ou um conversor noutra velocidade")));
    ASSERT_TRUE(play(SIGUSR1, "cabo cortado: nada volta"));
    QDBusConnection test = QDBusConnection::connectToBus(bus.address, "test");
    QDBusInterface panel(dbusService, dbusPath, dbusInterface, test);
    const QDBusMessage refused = panel.call("ShowSign", "Parar");
    EXPECT_EQ(refused.errorName() + "|" + refused.errorMessage() + "|" + panel.property("Echo").toString(),
              dbusNoEcho + "|Parar enviado, mas sem prova de que chegou ao painel: sem eco do cabo em COM1: o cabo pode estar cortado ou desligado no painel|sem eco");
    ASSERT_TRUE(play(SIGUSR1, "cabo ligado de novo: tudo volta"));
    EXPECT_EQ(command(env, {"--sinal", "Parar"}), std::pair(0, QString()));
    EXPECT_EQ(panel.property("Echo").toString(), "confirmado");
    QDBusConnection::disconnectFromBus("test");
}

} // namespace
