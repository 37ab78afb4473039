// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "journal/journal.h"
#include "journal_rows.h"
#include "panel/panel_line.h"
#include "pty_pair.h"
#include "serial/port_devices.h"
#include "settings/more_options_dialog.h"
#include "settings/preferences_dialog.h"
#include "settings/preferences_file.h"
#include "settings/preferences_format.h"
#include "settings/serial_ports_window.h"

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

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
        {"COM=2|MODE= 2|COLOUR= 65280|", {2, 2, 65280}},
        {"COM:2|MODE:2|COLOUR:65280|", {2, 2, 65280}},
        // Files too short to hold three lines: the missing ones count as keyless.
        {"", {1, 1, 255}},
        {"COM=2|MODE= 2", {2, 2, 255}},
        {"COM=2 MODE= 2 COLOUR= 65280", {2, 1, 255}},
        // Only the fifth character of the port line counts.
        {"COM=12|MODE= 1|COLOUR= 255|", {1, 1, 255}},
        {"COM=21xyz|", {2, 1, 255}},
        {"COM= 2|MODE= 2|COLOUR= 65535|", {1, 2, 65535}},
        {"COM=3|MODE= 0|COLOUR= 123|", {1, 1, 255}},
        // Keys are whole, case-sensitive and looked for in their own line only.
        {"com=2|mode= 2|colour= 65280|", {1, 1, 255}},
        {"MODE= 2|COM=2|COLOUR= 65535|", {1, 1, 65535}},
        {"COM=1|MODX= 2|COLOUR= 65280|", {1, 1, 65280}},
        {"COM=1|MOD= 2|COLOUR= 65280|", {1, 1, 65280}},
        {"COM=2|MODE= 2|COLOUR= 65535|COM=1|MODE= 1|", {2, 2, 65535}},
        // The number stops at the first character that cannot continue it; blanks, tabs and
        // line feeds are skipped wherever they stand, CR is not.
        {"COM=1|MODE= 2 xyz|COLOUR= 65280.|", {1, 2, 65280}},
        {"COM=1|MODE= 2 2|COLOUR= 6 5\t2\n80|", {1, 1, 65280}},
        {"COM=2\rMODE= 2|MODE= 2|COLOUR= 65\r280|", {2, 2, 255}},
        {"COM=1|MODE= +2|COLOUR= -65280|", {1, 2, 255}},
        // Rounding, a half to the even neighbour.
        {"COM=1|MODE= 2.5|COLOUR= 65279.5|", {1, 2, 65280}},
        {"COM=1|MODE= 1.5|COLOUR= 65534.5|", {1, 2, 255}},
        {"COM=1|MODE= 2.5000001|COLOUR= 65534.50000000000000000001|", {1, 1, 65535}},
        // Too large for the field: rejected, never wrapped round onto an accepted value.
        {"COM=1|MODE= 65538|COLOUR= 4295032831|", {1, 1, 255}},
        {"COM=1|MODE= 99999999999999999999999|COLOUR= 65280|", {1, 1, 65280}},
        {"COM=2|MODE= 2\0|COLOUR= 65535|"s, {2, 2, 65535}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parsePreferences(crlf(text)), expected) << text;
}

TEST_F(PreferencesFile, WriterRoundTripIsByteExact)
{
    for (const auto& [settings, expected] :
         std::vector<std::pair<PanelSettings, std::string>>{{{}, "COM=1|MODE= 1|COLOUR= 255|"}, {{2, 2, 65535}, "COM=2|MODE= 2|COLOUR= 65535|"}}) {
        EXPECT_EQ(writePreferences(settings, file), std::nullopt);
        EXPECT_EQ(bytes().toStdString(), crlf(expected));
        PanelSettings read{9, 9, 9};
        readPreferences(read, file);
        EXPECT_EQ(read, settings);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"pref.vyr"});
}

// An older installation's file is read only while the program's own does not exist yet.
TEST_F(PreferencesFile, AnOlderInstallationsFileIsReadUntilTheProgramHasItsOwn)
{
    const QString legacy = home.filePath("pref.vyr");
    EXPECT_EQ(preferencesToRead(file, legacy), file); // neither exists
    QFile old(legacy);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("COM=2\r\n") > 0);
    old.close();
    EXPECT_EQ(preferencesToRead(file, legacy), legacy);
    EXPECT_EQ(preferencesToRead(file, {}), file);
    EXPECT_EQ(preferencesToRead(file, home.path()), file); // a folder is no file
    put("COM=1\r\n");
    EXPECT_EQ(preferencesToRead(file, legacy), file);
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
    // The key, then each value written and what is read (-1: the default).
    using Values = std::vector<std::pair<QByteArray, int>>;
    const std::vector<std::tuple<QByteArray, int MoreSettings::*, Values>> cases{
        {"[keepalive]\ninterval_s=", &MoreSettings::keepAliveSeconds, {{"0", 0}, {" 3600", 3600}, {"3601", -1}, {"-1", -1}, {"1e2", -1}}},
        {"[journal]\nretention_days=", &MoreSettings::retentionDays, {{"1", 1}, {"3650", 3650}, {"0", -1}, {"3651", -1}}},
        {"[journal]\nmax_mb=", &MoreSettings::journalMaxMb, {{"1", 1}, {"0", -1}}},
    };
    QDir().mkpath(folder);
    for (const auto& [key, field, values] : cases) {
        for (const auto& [written, value] : values) {
            // A file of its own each time: QSettings keeps what it read of a file of the same size
            // written in the same second.
            const QByteArray text = key + written;
            const QString each = folder + "/" + QString::number(qHash(text)) + ".conf";
            QFile f(each);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text + "\n") > 0);
            f.close();
            problems.clear();
            EXPECT_EQ(readMoreSettings(each, &problems).*field, value < 0 ? MoreSettings{}.*field : value) << text.toStdString();
            EXPECT_EQ(problems.size(), value < 0 ? 1 : 0) << text.toStdString();
        }
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
    dialog.findChild<QLineEdit*>("mqttName")->setText(" Curva 3 ");
    dialog.findChild<QCheckBox*>("mqttHomeAssistant")->setChecked(true);
    dialog.accept();
    EXPECT_EQ(readMoreSettings(conf), more);
    EXPECT_EQ(more.mqtt.displayName() + (more.mqtt.homeAssistant ? " HA" : ""), "Curva 3 HA");
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
        {"host=127.0.0.1", "127.0.0.1"},
        {"host=127.45.0.9", "127.45.0.9"},
        {"host=[::1]", "::1"},
        {"host=localhost", "127.0.0.1"},
        {"host=127.attacker.test", nullptr},
        {"host=localhost.attacker.test", nullptr},
        {"host=10.0.0.1", nullptr},
        {"host=broker.example.org\nsem_cifra=true", "broker.example.org"},
        {"host=broker.example.org\nsem_cifra=1", "broker.example.org"},
        {"host=broker.example.org\ntls=true", "broker.example.org"},
        {"host=broker.example.org\nsem_cifra=no", nullptr},
        {"host=broker.example.org\nsem_cifra=off", nullptr},
        {"host=broker.example.org\nsem_cifra=não", nullptr},
        {"host=broker.example.org\ntls=yes\nsem_cifra=false", nullptr},
        {"host=127.0.0.1\ntls=TRUE", nullptr},
        {"host=127.0.0.1\nhome_assistant=sim", nullptr},
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
    const std::vector<std::tuple<QFileDevice::Permissions, uid_t, QString>> cases{{owner, ::getuid(), ""},
                                                                                  {owner | QFileDevice::ReadGroup, ::getuid(), "pode ser lido por outros (chmod 600 " + file + ")"},
                                                                                  {owner | QFileDevice::ReadOther, ::getuid(), "pode ser lido por outros"},
                                                                                  {owner, 65534, "é de nobody, não deste utilizador"}};
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

QComboBox* combo(const PreferencesDialog& dialog, const char* name) { return dialog.findChild<QComboBox*>(name); }
void pick(const PreferencesDialog& dialog, const char* name, const QString& text) { combo(dialog, name)->setCurrentText(text); }
void click(const PreferencesDialog& dialog, const char* name) { dialog.findChild<QAbstractButton*>(name)->click(); }

// Plays the operator's steps inside the dialog's own modal loop.
int runModal(PreferencesDialog& dialog, const std::function<void(PreferencesDialog&)>& steps)
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
    using Steps = std::function<void(PreferencesDialog&)>;
    // Steps as the operator takes them: a control clicked, or "Combo=text" picked.
    const auto steps = [](const char* names) -> Steps {
        return [names](PreferencesDialog& d) {
            for (const QString& step : QString(names).split(' ')) {
                const auto at = step.indexOf('=');
                if (at < 0) click(d, qPrintable(step));
                else pick(d, qPrintable(step.left(at)), step.mid(at + 1));
            }
        };
    };
    const std::vector<std::tuple<PanelSettings, Steps, PanelSettings, std::string>> cases{
        {{1, 1, 65535}, steps("Option2 OKButton"), {1, 2, 255}, "COM=1|MODE= 2|COLOUR= 255|"},
        {{2, 2, 65535}, steps("Option1 OKButton"), {2, 1, 65535}, "COM=2|MODE= 1|COLOUR= 65535|"},
        // Multi-colour mode keeps the stored colour for a later switch to mono-colour.
        {{1, 1, 65280}, steps("OKButton"), {1, 1, 65280}, "COM=1|MODE= 1|COLOUR= 65280|"},
        {{}, steps("Combo1=COM2: Option2 Combo2=Verde OKButton"), {2, 2, 65280}, "COM=2|MODE= 2|COLOUR= 65280|"},
        {{},
         [&](PreferencesDialog& d) {
             steps("Option2 Combo2=Amarelo Option1")(d);
             EXPECT_FALSE(combo(d, "Combo2")->isEnabled());
             steps("Option2")(d);
             EXPECT_TRUE(combo(d, "Combo2")->isEnabled() && combo(d, "Combo2")->currentText() == "Amarelo");
             steps("OKButton")(d);
         },
         {1, 2, 65535},
         "COM=1|MODE= 2|COLOUR= 65535|"},
        // Tab from the port list stops at the selected mode button: Space there changes nothing.
        {{1, 2, 65535},
         [&](PreferencesDialog& d) {
             ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
             combo(d, "Combo1")->setFocus();
             QTest::keyClick(combo(d, "Combo1"), Qt::Key_Tab);
             ASSERT_EQ(QApplication::focusWidget()->objectName(), "Option2");
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
             steps("OKButton")(d);
         },
         {1, 2, 65535},
         "COM=1|MODE= 2|COLOUR= 65535|"},
        {{}, steps("Combo1=COM2: Option2 CancelButton"), {}, old},
        {{}, [&](PreferencesDialog& d) { steps("Option2")(d), QTest::keyClick(&d, Qt::Key_Escape); }, {}, old},
    };
    for (const auto& [before, steps, after, text] : cases) {
        put(QByteArray::fromStdString(crlf(old)));
        PanelSettings settings = before;
        PreferencesDialog dialog(settings, file);
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
    PreferencesDialog dialog(settings, file);
    EXPECT_EQ(runModal(dialog,
                       [](PreferencesDialog& d) {
                           click(d, "Option2");
                           click(d, "OKButton");
                       }),
              QDialog::Accepted);
    EXPECT_EQ(message, QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2").arg(file, QString::fromLocal8Bit(std::strerror(ENOTDIR))));
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
    const PreferencesDialog dialog(settings, home.filePath("pref.vyr"));
    const auto* device = dialog.findChild<QLabel*>("portDevice");
    EXPECT_EQ(device->text(), pts);
    pick(dialog, "Combo1", "COM2:");
    EXPECT_EQ(device->text() + "|" + device->toolTip(), "sem dispositivo|sem dispositivo");
}

TEST_F(PortBindings, TheWindowBindsTestsAndUnbindsWithoutSendingAByte)
{
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLine link(port, status);
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
    port.openError = LineError::CouldNotOpenDevice;
    (void)link.openSendClose(2, [] {});
    window.refresh();
    EXPECT_TRUE(QRegularExpression("^Última falha, às \\d\\d:\\d\\d:\\d\\d: Permission denied$").match(text("com2Failure")).hasMatch()) << text("com2Failure").toStdString();
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
               + "\noperador|fim da ligação da porta|COM1|feito|" + pts)
                  .toStdString());
}

// A binding and its last failure show whole, however long the device's name: the window grows,
// or scrolls when the screen is too short, rather than cut them under the buttons. (Also run at
// scales 1.5 and 2.)
TEST_F(PortBindings, EveryLineShowsWholeWithALongDeviceName)
{
    const QString byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ-if00-port0";
    FakeSerialPort port;
    FakeStatusLine status;
    PanelLine link(port, status);
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.height() > before || window.frameGeometry().height() >= room.height() - 1; }, 2000)) << step << " " << window.height();
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

} // namespace
