// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "journal_rows.h"
#include "panel/panel_link.h"
#include "panel/port_devices.h"
#include "prefs/form5.h"
#include "prefs/journal.h"
#include "prefs/journal_window.h"
#include "prefs/more_options_dialog.h"
#include "prefs/preferences_file.h"
#include "prefs/preferences_format.h"
#include "prefs/serial_ports_window.h"
#include "pty_pair.h"

#include <QtWidgets>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <tuple>

namespace {

using namespace std::string_literals;

// Every test gets its own empty configuration folder.
struct PreferencesFile : ::testing::Test {
    QTemporaryDir home;
    QString folder = home.path() + QStringLiteral("/painel-sinaletico");
    QString file = preferencesPath(folder);

    void put(const QByteArray& bytes) const
    {
        QDir().mkpath(folder);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    [[nodiscard]] QByteArray bytes() const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : "<no file>";
    }
};

// A file's text with "|" for each CR LF.
std::string crlf(std::string text)
{
    for (std::size_t at; (at = text.find('|')) != std::string::npos;) text.replace(at, 1, "\r\n");
    return text;
}

TEST(PreferencesReader, FileBytesGiveSettings)
{
    const std::vector<std::pair<std::string, PanelSettings>> cases{
        {"COM=2|MODE= 2|COLOUR= 65280|", {2, 2, 65280}}, {"COM:2|MODE:2|COLOUR:65280|", {2, 2, 65280}},
        // Files too short to hold three lines: the missing ones count as keyless.
        {"", {1, 1, 255}}, {"COM=2|MODE= 2", {2, 2, 255}}, {"COM=2 MODE= 2 COLOUR= 65280", {2, 1, 255}},
        // Only the fifth character of the port line counts.
        {"COM=12|MODE= 1|COLOUR= 255|", {1, 1, 255}}, {"COM=21xyz|", {2, 1, 255}}, {"COM= 2|MODE= 2|COLOUR= 65535|", {1, 2, 65535}},
        {"COM=3|MODE= 0|COLOUR= 123|", {1, 1, 255}},
        // Keys are whole, case-sensitive and looked for in their own line only.
        {"com=2|mode= 2|colour= 65280|", {1, 1, 255}}, {"MODE= 2|COM=2|COLOUR= 65535|", {1, 1, 65535}},
        {"COM=1|MODX= 2|COLOUR= 65280|", {1, 1, 65280}}, {"COM=1|MOD= 2|COLOUR= 65280|", {1, 1, 65280}},
        {"COM=2|MODE= 2|COLOUR= 65535|COM=1|MODE= 1|", {2, 2, 65535}},
        // The number stops at the first character that cannot continue it; blanks, tabs and
        // line feeds are skipped wherever they stand, CR is not.
        {"COM=1|MODE= 2 xyz|COLOUR= 65280.|", {1, 2, 65280}}, {"COM=1|MODE= 2 2|COLOUR= 6 5\t2\n80|", {1, 1, 65280}},
        {"COM=2\rMODE= 2|MODE= 2|COLOUR= 65\r280|", {2, 2, 255}}, {"COM=1|MODE= +2|COLOUR= -65280|", {1, 2, 255}},
        // Rounding, a half to the even neighbour.
        {"COM=1|MODE= 2.5|COLOUR= 65279.5|", {1, 2, 65280}}, {"COM=1|MODE= 1.5|COLOUR= 65534.5|", {1, 2, 255}},
        {"COM=1|MODE= 2.5000001|COLOUR= 65534.50000000000000000001|", {1, 1, 65535}},
        // Too large for the field: rejected, never wrapped round onto an accepted value.
        {"COM=1|MODE= 65538|COLOUR= 4295032831|", {1, 1, 255}}, {"COM=1|MODE= 99999999999999999999999|COLOUR= 65280|", {1, 1, 65280}},
        {"COM=2|MODE= 2\0|COLOUR= 65535|"s, {2, 2, 65535}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parsePreferences(crlf(text)), expected) << text;
}

TEST_F(PreferencesFile, WriterRoundTripIsByteExact)
{
    for (const auto& [settings, expected] : std::vector<std::pair<PanelSettings, std::string>>{
             {{}, "COM=1|MODE= 1|COLOUR= 255|"}, {{2, 2, 65535}, "COM=2|MODE= 2|COLOUR= 65535|"}}) {
        EXPECT_EQ(writePreferences(settings, file), std::nullopt);
        EXPECT_EQ(bytes().toStdString(), crlf(expected));
        PanelSettings read{9, 9, 9};
        readPreferences(read, file);
        EXPECT_EQ(read, settings);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"pref.vyr"});
}

// Anything but a regular file of at most 64 KiB reads as unreadable, at once: defaults apply.
TEST_F(PreferencesFile, OnlyASmallRegularFileIsRead)
{
    const QByteArray good("COM=2\r\nMODE= 2\r\nCOLOUR= 65535\r\n");
    constexpr qint64 limit = 64 * 1024;
    put(good + QByteArray(limit - good.size(), ' '));
    bool errFlag = true;
    EXPECT_EQ(ReadTextFile(file, errFlag).size(), std::size_t(limit));
    EXPECT_FALSE(errFlag);

    const std::vector<std::pair<const char*, std::function<void()>>> unreadable{
        {"missing", [] {}},
        {"a folder", [&] { QDir().mkpath(file); }},
        {"one byte too long", [&] { put(good + QByteArray(limit - good.size() + 1, ' ')); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0); }},
        {"/dev/zero", [&] { ASSERT_TRUE(QFile::link("/dev/zero", file)); }},
    };
    for (const auto& [what, make] : unreadable) {
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        make();
        EXPECT_EQ(ReadTextFile(file, errFlag), "") << what;
        EXPECT_TRUE(errFlag) << what;
        PanelSettings settings{2, 2, 65535};
        readPreferences(settings, file);
        EXPECT_EQ(settings, PanelSettings{}) << what;
    }
}

TEST_F(PreferencesFile, TemporariesLeftOverAMinuteAgoAreRemoved)
{
    put("COM=2\r\n");
    for (const QString name : {"pref.vyr.Old123", "pref.vyr.New123", "pref.vyr.bak"}) {
        QFile left(folder + "/" + name);
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        if (!name.contains("New")) left.setFileTime(QDateTime::currentDateTime().addSecs(-61), QFileDevice::FileModificationTime);
    }
    removeStaleTemporaries(file);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"pref.vyr", "pref.vyr.bak", "pref.vyr.New123"}));
}

// painel-sinaletico.conf beside pref.vyr: defaults when missing, a bad value gives the
// default and says why, the dialog writes what it shows; pref.vyr is never touched.
TEST_F(PreferencesFile, MoreSettingsFallBackOnBadValuesAndTheDialogWritesThem)
{
    const QString conf = moreSettingsPath(file);
    EXPECT_EQ(conf, folder + "/painel-sinaletico.conf");
    QStringList problems;
    MoreSettings missing = readMoreSettings(conf, &problems);
    // The panel's MQTT id is the machine's name, made a topic level.
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{1,64}$").match(missing.mqtt.id).hasMatch()) << missing.mqtt.id.toStdString();
    missing.mqtt.id.clear();
    EXPECT_EQ(missing, MoreSettings{});
    // Each key on its own: a value out of its limits or not a whole number gives the default.
    const std::vector<std::tuple<QByteArray, int MoreSettings::*, int>> cases{
        {"[keepalive]\ninterval_s=0", &MoreSettings::keepAliveSeconds, 0},     {"[keepalive]\ninterval_s= 3600", &MoreSettings::keepAliveSeconds, 3600},
        {"[keepalive]\ninterval_s=3601", &MoreSettings::keepAliveSeconds, -1}, {"[keepalive]\ninterval_s=-1", &MoreSettings::keepAliveSeconds, -1},
        {"[keepalive]\ninterval_s=1e2", &MoreSettings::keepAliveSeconds, -1},  {"[journal]\nretention_days=1", &MoreSettings::retentionDays, 1},
        {"[journal]\nretention_days=3650", &MoreSettings::retentionDays, 3650}, {"[journal]\nretention_days=0", &MoreSettings::retentionDays, -1},
        {"[journal]\nretention_days=3651", &MoreSettings::retentionDays, -1},  {"[journal]\nmax_mb=1", &MoreSettings::journalMaxMb, 1},
        {"[journal]\nmax_mb=0", &MoreSettings::journalMaxMb, -1},
    };
    QDir().mkpath(folder);
    for (const auto& [text, field, value] : cases) {
        // A file of its own each time: QSettings keeps what it read of a file of the same size
        // written in the same second.
        const QString each = folder + "/" + QString::number(qHash(text)) + ".conf";
        QFile f(each);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text + "\n") > 0);
        f.close();
        problems.clear();
        EXPECT_EQ(readMoreSettings(each, &problems).*field, value < 0 ? MoreSettings{}.*field : value) << text.toStdString();
        EXPECT_EQ(problems.size(), value < 0 ? 1 : 0) << text.toStdString();
    }
    MoreSettings more;
    MoreOptionsDialog dialog(more, conf, problems, "MQTT: sem ligação a x: nome ou palavra-passe recusados");
    EXPECT_EQ(dialog.findChild<QLabel*>("problems")->text(), problems.join('\n'));
    EXPECT_EQ(dialog.findChild<QLabel*>("mqttState")->text(), "Agora: sem ligação a x: nome ou palavra-passe recusados");
    dialog.findChild<QSpinBox*>("keepAlive")->setValue(30);
    dialog.findChild<QSpinBox*>("retention")->setValue(90);
    dialog.findChild<QSpinBox*>("journalSize")->setValue(7);
    // An OK refused for MQTT's sake changes nothing, so that Cancel then keeps its promise.
    dialog.findChild<QLineEdit*>("mqttHost")->setText("broker.example.org");
    dialog.findChild<QLineEdit*>("mqttId")->setText("posto-1");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(more, MoreSettings{});
    EXPECT_TRUE(dialog.findChild<QLabel*>("mqttProblem")->text().contains("marque \"Cifrar com TLS\""));
    // The dialog refuses what the program would: a password file others can read, said beside it.
    QFile password(folder + "/senha");
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    password.close();
    password.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    dialog.findChild<QLineEdit*>("mqttHost")->setText("127.0.0.1");
    dialog.findChild<QLineEdit*>("mqttPasswordFile")->setText(password.fileName());
    dialog.accept();
    EXPECT_EQ(more, MoreSettings{});
    EXPECT_TRUE(dialog.findChild<QLabel*>("passwordProblem")->text().contains("pode ser lido por outros"));
    EXPECT_TRUE(dialog.findChild<QLabel*>("mqttProblem")->isHidden());
    dialog.findChild<QLineEdit*>("mqttHost")->clear();
    dialog.findChild<QLineEdit*>("mqttPasswordFile")->clear();
    dialog.accept();
    EXPECT_EQ(readMoreSettings(conf), more);
    EXPECT_EQ(more.keepAliveSeconds * 1000 + more.retentionDays, 30'090);
    EXPECT_EQ(more.journalMaxMb, 7);
    EXPECT_FALSE(QFile::exists(file));
}

// MQTT is used only when it is understood and safe: a flag is exactly true or false (1 or 0),
// and only a literal loopback address, or localhost resolving to nothing else, is this machine.
TEST_F(PreferencesFile, MqttSettingsAreUsedOnlyWhenUnderstoodAndSafe)
{
    QDir().mkpath(folder);
    const std::vector<std::pair<QByteArray, const char*>> cases{
        {"host=127.0.0.1", "127.0.0.1"}, {"host=127.45.0.9", "127.45.0.9"}, {"host=[::1]", "::1"}, {"host=localhost", "127.0.0.1"},
        {"host=127.attacker.test", nullptr}, {"host=localhost.attacker.test", nullptr}, {"host=10.0.0.1", nullptr},
        {"host=broker.example.org\nsem_cifra=true", "broker.example.org"}, {"host=broker.example.org\nsem_cifra=1", "broker.example.org"},
        {"host=broker.example.org\ntls=true", "broker.example.org"},
        {"host=broker.example.org\nsem_cifra=no", nullptr}, {"host=broker.example.org\nsem_cifra=off", nullptr},
        {"host=broker.example.org\nsem_cifra=não", nullptr}, {"host=broker.example.org\ntls=yes\nsem_cifra=false", nullptr},
        {"host=127.0.0.1\ntls=TRUE", nullptr},
    };
    for (const auto& [text, connectTo] : cases) {
        const QString each = folder + "/" + QString::number(qHash(text)) + ".conf";
        QFile f(each);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("[mqtt]\n" + text + "\n") > 0);
        f.close();
        QStringList problems;
        const MoreSettings more = readMoreSettings(each, &problems);
        EXPECT_EQ(more.mqtt.enabled(), connectTo != nullptr) << text.toStdString();
        EXPECT_EQ(more.mqttRefused.isEmpty(), connectTo != nullptr) << text.toStdString();
        if (text.contains("=no") || text.contains("=TRUE")) {
            EXPECT_TRUE(more.mqttRefused.contains("não se entende")) << more.mqttRefused.toStdString();
        }
        if (connectTo != nullptr && !text.contains("example")) {
            EXPECT_EQ(loopbackAddress(more.mqtt.host).value_or("(none)"), connectTo) << text.toStdString();
        }
    }
}

// A password file is used only when it is the user's own and nobody else can read it; the reason
// names what is wrong, whose the file is before what its mode is.
TEST_F(PreferencesFile, APasswordFileIsTheUsersOwnAndReadByNobodyElse)
{
    QDir().mkpath(folder);
    const QString file = folder + "/senha";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const std::vector<std::tuple<QFileDevice::Permissions, uid_t, QString>> cases{
        {owner, ::getuid(), ""}, {owner | QFileDevice::ReadGroup, ::getuid(), "pode ser lido por outros (chmod 600 " + file + ")"},
        {owner | QFileDevice::ReadOther, ::getuid(), "pode ser lido por outros"}, {owner, 65534, "é de nobody, não deste utilizador"}};
    for (const auto& [permissions, uid, says] : cases) {
        if (uid != ::getuid() && ::geteuid() != 0) continue; // only root can give a file away
        ASSERT_TRUE(f.setPermissions(permissions) && ::chown(QFile::encodeName(file).constData(), uid, ::getgid()) == 0);
        const QString problem = passwordFileProblem(file).value_or("");
        EXPECT_TRUE(says.isEmpty() ? problem.isEmpty() : problem.contains(says)) << problem.toStdString();
    }
    EXPECT_TRUE(passwordFileProblem(folder + "/nenhum").value_or("").contains("não existe"));
}

// The file-size limit cuts the write short the way a full disk does, and holds for root too.
TEST_F(PreferencesFile, WriteCutShortKeepsTheOldFileAndLeavesNoTemporary)
{
    const QByteArray old("COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n");
    put(old);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    for (const rlim_t limit : {rlim_t{0}, rlim_t{16}}) {
        rlimit small = saved;
        small.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const auto failure = writePreferences({}, file);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        EXPECT_EQ(failure, QString::fromLocal8Bit(std::strerror(EFBIG))) << limit;
        EXPECT_EQ(bytes(), old);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"pref.vyr"});
    }
}

QComboBox* combo(const Form5& dialog, const char* name) { return dialog.findChild<QComboBox*>(name); }
void pick(const Form5& dialog, const char* name, const QString& text) { combo(dialog, name)->setCurrentText(text); }
void click(const Form5& dialog, const char* name) { dialog.findChild<QAbstractButton*>(name)->click(); }

// Plays the operator's steps inside the dialog's own modal loop.
int runModal(Form5& dialog, const std::function<void(Form5&)>& steps)
{
    QTimer::singleShot(0, &dialog, [&] {
        steps(dialog);
        if (dialog.isVisible()) dialog.done(-1); // still open: neither result
    });
    return dialog.exec();
}

TEST_F(PreferencesFile, DialogOperatorChoicesReachSettingsAndFile)
{
    const std::string old = "COM=1|MODE=1|COLOUR=255|";
    using Steps = std::function<void(Form5&)>;
    const std::vector<std::tuple<PanelSettings, Steps, PanelSettings, std::string>> cases{
        {{1, 1, 65535}, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); }, {1, 2, 255}, "COM=1|MODE= 2|COLOUR= 255|"},
        {{2, 2, 65535}, [](Form5& d) { click(d, "Option1"); click(d, "OKButton"); }, {2, 1, 65535}, "COM=2|MODE= 1|COLOUR= 65535|"},
        // Multi-colour mode keeps the stored colour for a later switch to mono-colour.
        {{1, 1, 65280}, [](Form5& d) { click(d, "OKButton"); }, {1, 1, 65280}, "COM=1|MODE= 1|COLOUR= 65280|"},
        {{}, [](Form5& d) { pick(d, "Combo1", "COM2:"); click(d, "Option2"); pick(d, "Combo2", "Verde"); click(d, "OKButton"); },
         {2, 2, 65280}, "COM=2|MODE= 2|COLOUR= 65280|"},
        {{}, [](Form5& d) {
             click(d, "Option2"); pick(d, "Combo2", "Amarelo"); click(d, "Option1");
             EXPECT_FALSE(combo(d, "Combo2")->isEnabled());
             click(d, "Option2");
             EXPECT_TRUE(combo(d, "Combo2")->isEnabled() && combo(d, "Combo2")->currentText() == "Amarelo");
             click(d, "OKButton");
         }, {1, 2, 65535}, "COM=1|MODE= 2|COLOUR= 65535|"},
        // Tab from the port list stops at the selected mode button: Space there changes nothing.
        {{1, 2, 65535}, [](Form5& d) {
             ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
             combo(d, "Combo1")->setFocus();
             QTest::keyClick(combo(d, "Combo1"), Qt::Key_Tab);
             ASSERT_EQ(QApplication::focusWidget()->objectName(), "Option2");
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
             click(d, "OKButton");
         }, {1, 2, 65535}, "COM=1|MODE= 2|COLOUR= 65535|"},
        {{}, [](Form5& d) { pick(d, "Combo1", "COM2:"); click(d, "Option2"); click(d, "CancelButton"); }, {}, old},
        {{}, [](Form5& d) { click(d, "Option2"); QTest::keyClick(&d, Qt::Key_Escape); }, {}, old},
    };
    for (const auto& [before, steps, after, text] : cases) {
        put(QByteArray::fromStdString(crlf(old)));
        PanelSettings settings = before;
        Form5 dialog(settings, file);
        EXPECT_EQ(runModal(dialog, steps), text == old ? QDialog::Rejected : QDialog::Accepted) << text;
        EXPECT_EQ(settings, after) << text;
        EXPECT_EQ(bytes().toStdString(), crlf(text));
    }
}

TEST_F(PreferencesFile, DialogFailedWriteIsReportedAndTheSettingsStillApply)
{
    ASSERT_TRUE(QFile(folder).open(QIODevice::WriteOnly)); // a file where the folder should be
    QString message;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            message = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    watcher.start(0);
    PanelSettings settings;
    Form5 dialog(settings, file);
    EXPECT_EQ(runModal(dialog, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); }), QDialog::Accepted);
    EXPECT_EQ(message, QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2")
                           .arg(file, QString::fromLocal8Bit(std::strerror(ENOTDIR))));
    EXPECT_EQ(settings, (PanelSettings{1, 2, 255}));
}

// A configuration folder of its own, and a pseudo-terminal standing in for an adapter.
struct PortBindings : ::testing::Test {
    QTemporaryDir home;
    PtyPair pty;
    QString pts = QString::fromStdString(pty.slavePath());

    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        ASSERT_TRUE(QDir().mkpath(configFolder()));
    }
};

TEST_F(PortBindings, TheDialogNamesTheDeviceOfTheChosenPort)
{
    ASSERT_TRUE(QFile::link(pts, configFolder() + "/com1") && QFile::link(home.filePath("unplugged"), configFolder() + "/com2"));
    PanelSettings settings;
    const Form5 dialog(settings, home.filePath("pref.vyr"));
    const auto* device = dialog.findChild<QLabel*>("portDevice");
    EXPECT_EQ(device->text(), pts);
    pick(dialog, "Combo1", "COM2:");
    EXPECT_EQ(device->text() + "|" + device->toolTip(), "sem dispositivo|sem dispositivo");
}

TEST_F(PortBindings, TheWindowBindsTestsAndUnbindsWithoutSendingAByte)
{
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLink link(port, status);
    SerialPortsWindow window(link, nullptr, home.filePath("by-id"));
    Journal journal(home.filePath("registo.sqlite"));
    window.setJournal(&journal);
    const auto text = [&](const char* name) { return window.findChild<QLabel*>(name)->text(); };
    const auto press = [&](const char* name) { window.findChild<QPushButton*>(name)->click(); };
    auto* typed = window.findChild<QLineEdit*>("typedDevice");
    typed->setText(home.filePath("nowhere"));
    press("bindCom1");
    EXPECT_EQ(text("message"), home.filePath("nowhere") + " não existe.");
    EXPECT_TRUE(text("com1Binding").startsWith("Sem ligação: usa /dev/ttyS0")) << text("com1Binding").toStdString();
    typed->setText(pts);
    press("bindCom1");
    EXPECT_EQ(text("message") + "|" + text("com1Binding").section('\n', 0, 0), "COM1 ligada a " + pts + ".|Ligada a " + pts);
    // What removing the binding would leave the port with is said before it is done.
    EXPECT_TRUE(text("com1Binding").section('\n', 1).startsWith("Sem a ligação, COM1 usaria /dev/ttyS0")) << text("com1Binding").toStdString();
    EXPECT_TRUE(window.findChild<QPushButton*>("unbindCom1")->isEnabled());
    press("testCom1");
    EXPECT_EQ(text("message"), "COM1 (" + pts + ") abre e fecha sem erros. Nada foi enviado.");
    EXPECT_TRUE(pty.readAvailable().empty());
    // The link's last failure on a port, and when it was, stay in that port's row.
    port.openError = errnum::couldNotOpenDevice;
    (void)link.openSendClose(2, [] {});
    window.refresh();
    EXPECT_TRUE(QRegularExpression("^Última falha, às \\d\\d:\\d\\d:\\d\\d: Permission denied$").match(text("com2Failure")).hasMatch())
        << text("com2Failure").toStdString();
    EXPECT_EQ(text("com1Failure"), "Sem falhas desde o arranque");
    press("unbindCom1");
    EXPECT_EQ(text("message"), "COM1 já não tem ligação: usa /dev/ttyS0.");
    // Nothing bound, nothing to remove; the operator's slips are said, and are no refusal to journal.
    EXPECT_FALSE(window.findChild<QPushButton*>("unbindCom1")->isEnabled());
    window.unbind(1);
    EXPECT_EQ(text("message"), "COM1 não tem ligação.");
    typed->clear();
    press("bindCom1");
    EXPECT_TRUE(text("message").startsWith("Escolha uma porta")) << text("message").toStdString();
    // A test that fails is the port's last failure too; a com2 that is a plain file is no binding.
    QFile plain(configFolder() + "/com2");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    press("testCom2");
    EXPECT_TRUE(text("com2Failure").endsWith(": " + plain.fileName() + " não é um dispositivo série")) << text("com2Failure").toStdString();
    EXPECT_EQ(text("com2Binding"), plain.fileName() + " não é uma ligação: COM2 não abre enquanto lá estiver");
    EXPECT_FALSE(window.findChild<QPushButton*>("unbindCom2")->isEnabled());
    journal.flush();
    EXPECT_EQ(journalRows(journal.fileName(), "origem, acao, porta, resultado, pormenor").join("\n").toStdString(),
              ("operador|ligação da porta|COM1|recusado|" + home.filePath("nowhere") + "\noperador|ligação da porta|COM1|feito|" + pts
               + "\noperador|fim da ligação da porta|COM1|feito|" + pts).toStdString());
}

// A binding and its last failure show whole, however long the device's name: the window grows,
// or scrolls when the screen is too short, rather than cut them under the buttons. (Also run at
// scales 1.5 and 2.)
TEST_F(PortBindings, EveryLineShowsWholeWithALongDeviceName)
{
    const QString byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ-if00-port0";
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLink link(port, status);
    SerialPortsWindow window(link, nullptr, home.filePath("by-id"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QSize room = window.screen()->availableGeometry().size();
    // Bound while the window is open (by another copy, or by hand), then tested: each time the
    // window grows, unless the screen is too short for that, and then it scrolls.
    for (const char* step : {"bound", "tested"}) {
        const int before = window.height();
        if (std::string(step) == "bound") {
            ASSERT_TRUE(QFile::link(byId, configFolder() + "/com1"));
            window.refresh();
        } else {
            window.findChild<QPushButton*>("testCom1")->click();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.height() > before || window.frameGeometry().height() >= room.height() - 1; }, 2000))
            << step << " " << window.height();
    }
    EXPECT_TRUE(window.findChild<QLabel*>("com1Failure")->text().contains(byId));
    QCoreApplication::sendPostedEvents(); // the layouts' own requests
    const QRect buttons = window.findChild<QPushButton*>("testCom1")->geometry();
    for (const char* name : {"com1Binding", "com1Failure"}) {
        const QLabel* label = window.findChild<QLabel*>(name);
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
        EXPECT_LE(label->geometry().bottom(), buttons.top()) << name;
        // As wide as the device's name, as far as the screen allows.
        EXPECT_TRUE(label->width() >= label->fontMetrics().horizontalAdvance(byId) || window.frameGeometry().width() >= room.width() - 1) << name;
    }
}

// SQLite's own view of the file: one value of a statement.
QString sqlValue(const QString& file, const QString& statement)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-value");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(statement, db);
            if (query.next()) value = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase("test-value");
    return value;
}

// The journal keeps both times to the millisecond in a WAL file with its schema's version, and
// drops what is older than the retention when it is set, at start-up or shortened.
TEST(JournalFile, IsVersionedInWalModeAndKeptToItsRetention)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("state/painel-sinaletico/registo.sqlite");
    const QDateTime now = QDateTime::currentDateTime();
    {
        Journal journal(file);
        for (const int daysAgo : {400, 366, 364, 10, 0}) {
            JournalEntry e;
            e.when = now.addDays(-daysAgo);
            e.action = QString::number(daysAgo);
            journal.record(e);
        }
    }
    EXPECT_EQ(journalRows(file, "acao").join(","), "400,366,364,10,0");
    EXPECT_EQ(journalRows(file, "hora_local, hora_utc", "acao = '0'").join(""),
              now.toString("yyyy-MM-dd HH:mm:ss.zzz|") + now.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"));
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode") + "|" + sqlValue(file, "PRAGMA user_version"), "wal|2");
    Journal journal(file);
    for (const auto& [days, kept] : {std::pair{365, "364,10,0"}, {5, "0"}}) {
        journal.setRetention(days);
        journal.flush();
        EXPECT_EQ(journalRows(file, "acao").join(","), kept) << days;
    }

    // Past its size the oldest entries go, the newest stay, and it is said once.
    const auto usedBytes = [&] {
        return sqlValue(file, "PRAGMA page_count").toLongLong() - sqlValue(file, "PRAGMA freelist_count").toLongLong();
    };
    journal.setSizeLimit(1);
    for (const int burst : {6000, 1000}) {
        for (int i = 0; i < burst; ++i) {
            JournalEntry e;
            e.action = QStringLiteral("%1-%2").arg(burst).arg(i);
            e.detail = QString(200, QChar(u'ç'));
            journal.record(e);
        }
        journal.flush();
    }
    journal.flush();
    EXPECT_LE(usedBytes() * sqlValue(file, "PRAGMA page_size").toLongLong(), 1024 * 1024);
    const QStringList left = journalRows(file, "acao, resultado");
    EXPECT_EQ(left.filter("entradas mais antigas apagadas").size(), 1);
    EXPECT_TRUE(left.contains("1000-999|")) << left.last().toStdString();
    EXPECT_FALSE(left.contains("6000-0|"));
    EXPECT_GT(left.size(), 1000);
}

// A corrupt file is set aside under a name with the time, untouched, and a new one begun; a
// journal that cannot be kept says so once, however many entries come, and nothing waits.
TEST(JournalFile, ACorruptFileIsSetAsideAndOneThatCannotBeKeptIsSaidOnce)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("registo.sqlite");
    const QByteArray garbage(8192, 'x');
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write(garbage) == garbage.size());
    damaged.close();
    {
        Journal journal(file);
        journal.record({});
        journal.flush();
        QCoreApplication::processEvents();
        EXPECT_EQ(journal.problem(), "");
    }
    const QStringList aside = QDir(dir.path()).entryList({"registo.sqlite.corrompido-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression("^registo.sqlite.corrompido-\\d{8}-\\d{6}$").match(aside[0]).hasMatch()) << aside[0].toStdString();
    QFile setAside(dir.filePath(aside[0]));
    ASSERT_TRUE(setAside.open(QIODevice::ReadOnly));
    EXPECT_EQ(setAside.readAll(), garbage);
    EXPECT_EQ(journalRows(file).size(), 1);

    // /proc stands in for a read-only folder, which root could still write.
    const QString newer = dir.filePath("newer.sqlite");
    EXPECT_EQ(sqlValue(newer, "PRAGMA user_version = 99"), "");
    for (const auto& [path, why] : {std::pair{QString("/proc/self/painel-sinaletico/registo.sqlite"), "não foi possível criar a pasta"},
                                    {newer, "versão mais recente"}}) {
        Journal journal(path);
        QSignalSpy said(&journal, &Journal::problemChanged);
        for (int i = 0; i < 3; ++i) {
            journal.record({});
            journal.flush();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !said.isEmpty(); }, 2000)) << path.toStdString();
        QCoreApplication::processEvents();
        EXPECT_EQ(said.count(), 1);
        EXPECT_TRUE(journal.problem().startsWith("O registo não está a ser guardado: ") && journal.problem().contains(why))
            << journal.problem().toStdString();
    }
    EXPECT_EQ(sqlValue(newer, "PRAGMA user_version") + sqlValue(newer, "SELECT count(*) FROM sqlite_master"), "990");

    // A file that cannot be opened (a folder stands in its place) until it can: what waited is
    // written, and the note goes, with no new entry to set it off. SQLite's words are kept for
    // the journal's detail; the operator reads the cause.
    const QString heldFile = dir.filePath("registo-retido.sqlite");
    ASSERT_TRUE(QDir().mkpath(heldFile));
    Journal held(heldFile);
    for (int i = 0; i <= 10'000; ++i) held.record({}); // one more than is kept in memory
    held.flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !held.problem().isEmpty(); }, 2000));
    EXPECT_EQ(held.problem(), "O registo não está a ser guardado: o ficheiro " + heldFile + " não se pode abrir: é uma pasta");
    QTest::qWait(2 * Journal::gatherMs); // past that entry's own gathering: only a retry writes it now
    ASSERT_TRUE(QDir(heldFile).removeRecursively());
    EXPECT_TRUE(QTest::qWaitFor([&] { return held.problem().isEmpty(); }, 6000)); // tried again every 2 s
    held.flush();
    EXPECT_EQ(journalRows(held.fileName(), "count(*)", "acao IS NULL"), QStringList{"10000"});
    EXPECT_EQ(journalRows(held.fileName(), "acao, resultado, motivo, pormenor", "acao IS NOT NULL").join("\n").toStdString(),
              ("registo|entradas perdidas||1 entradas mais antigas não foram guardadas enquanto o registo esteve indisponível\n"
               "registo|voltou a ser guardado|o ficheiro " + heldFile + " não se pode abrir: é uma pasta|unable to open database file Error opening database")
                  .toStdString());
}

// Newest first, by day and failures only; the CSV is what the table shows, with accents, commas,
// quotes and line feeds intact.
TEST(JournalWindowTest, FiltersAndExportsWhatItShows)
{
    QTemporaryDir dir;
    Journal journal(dir.filePath("registo.sqlite"));
    const auto entry = [](const QDateTime& when, const char* sign, bool failure) {
        JournalEntry e;
        e.when = when;
        e.action = "sinal";
        e.sign = QString::fromUtf8(sign);
        e.failure = failure;
        return e;
    };
    const QDateTime failedAt(QDate(2026, 12, 7), QTime(8, 5, 3, 42));
    JournalEntry failed = entry(failedAt, "Frente", true);
    failed.origin = Origin::Keyboard;
    failed.mode = "monocor";
    failed.colour = "Verde";
    failed.port = 2;
    failed.device = "/dev/ttyUSB0";
    failed.bytes = 10;
    failed.outcome = "falhou na escrita";
    failed.reason = "Ação falhou, \"linha\" caiu";
    failed.detail = "tentou\nde novo";
    // The clock set back between two entries: each still shows under its own day.
    journal.record(failed);
    journal.record(entry(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 999)), "Parar", false));
    journal.record(entry(failedAt.addSecs(60), "Xadrez", false));
    journal.flush();

    JournalWindow window(journal);
    auto* day = window.findChild<QComboBox*>("day");
    auto* onlyFailures = window.findChild<QCheckBox*>("onlyFailures");
    // Each access key belongs to one control: Alt+F ticks "Só falhas" rather than moving the focus.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return onlyFailures->isChecked(); }, 2000));
    onlyFailures->setChecked(false);
    QAbstractItemModel* model = window.findChild<QTableView*>("entries")->model();
    QStringList days;
    for (int i = 0; i < day->count(); ++i) days << day->itemText(i);
    EXPECT_EQ(days.join("|"), "Todos os dias|07-12-2026|06-12-2026");
    for (const auto& [dayIndex, failures, shown] : {std::tuple{0, false, "Xadrez,Parar,Frente"}, {1, false, "Xadrez,Frente"},
                                                    {2, false, "Parar"}, {0, true, "Frente"}}) {
        day->setCurrentIndex(dayIndex);
        onlyFailures->setChecked(failures);
        QStringList signs;
        for (int row = 0; row < model->rowCount(); ++row) signs << model->index(row, 4).data().toString();
        EXPECT_EQ(signs.join(","), shown) << dayIndex << failures;
    }
    const QString csv = dir.filePath("registo.csv");
    ASSERT_EQ(window.exportCsv(csv), std::nullopt);
    QFile exported(csv);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll().toStdString(),
              "Hora,Hora UTC,Origem,Acção,Sinal,Modo,Cor,Porta,Dispositivo,Bytes,Resultado,Motivo,Pormenor\r\n"
              "2026-12-07 08:05:03.042," + failedAt.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ").toStdString()
                  + ",teclado,sinal,Frente,monocor,Verde,COM2,/dev/ttyUSB0,10,falhou na escrita,\"Ação falhou, \"\"linha\"\" caiu\",\"tentou\nde novo\"\r\n");
    EXPECT_NE(window.exportCsv("/proc/self/painel/registo.csv"), std::nullopt);

    // Open, it puts what is written on top and keeps the operator's place; reopened, it reads a
    // page at a time, and every row comes once, in order, as the operator scrolls or exports.
    auto* table = window.findChild<QTableView*>("entries");
    day->setCurrentIndex(0);
    onlyFailures->setChecked(false);
    table->selectRow(1);
    constexpr int more = 451; // the newest a failure, so the export's last row counts
    for (int i = 0; i < more; ++i) journal.record(entry(QDateTime::currentDateTime(), QByteArray::number(i), i % 3 == 0));
    journal.flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3 + more; }, 2000)) << model->rowCount();
    EXPECT_EQ(model->index(0, 4).data().toString(), QString::number(more - 1));
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1 + more);
    window.refresh();
    EXPECT_LT(model->rowCount(), 3 + more);
    for (const bool failures : {false, true}) {
        onlyFailures->setChecked(failures);
        while (model->canFetchMore({})) model->fetchMore({});
        QStringList signs;
        for (int row = 0; row < model->rowCount(); ++row) signs << model->index(row, 4).data().toString();
        QStringList expected;
        for (int i = more - 1; i >= 0; --i)
            if (!failures || i % 3 == 0) expected << QString::number(i);
        expected << (failures ? QStringList{"Frente"} : QStringList{"Xadrez", "Parar", "Frente"});
        EXPECT_EQ(signs, expected) << failures;
    }
    exported.close();
    ASSERT_EQ(window.exportCsv(csv), std::nullopt);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll().count("\r\n"), 1 + (more + 2) / 3 + 1); // the header and the failures
}

} // namespace
