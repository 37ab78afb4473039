// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "preferences_folder.h"
#include "serial/port_devices.h"
#include "settings/more_settings.h"
#include "settings/preferences_file.h"
#include "settings/preferences_format.h"

#include <QRegularExpression>
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
// default and says why.
TEST_F(PreferencesFile, MoreSettingsFallBackOnBadValues)
{
    const QString conf = moreSettingsPath(file);
    EXPECT_EQ(conf, folder + "/painel-sinaletico.conf");
    QStringList problems;
    MoreSettings missing = readMoreSettings(conf, &problems);
    // The panel's MQTT id is the machine's name, made a topic level.
    EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-]{1,64}$").match(missing.mqtt.id).hasMatch()) << missing.mqtt.id.toStdString();
    missing.mqtt.id.clear();
    EXPECT_EQ(missing, MoreSettings{});
    // A post keeps its sign when race control is lost, unless told otherwise.
    EXPECT_EQ(std::tuple(missing.onCentralLost, missing.safeDelaySeconds, missing.baseSign), std::tuple(MoreSettings::OnCentralLost::Keep, 10, Sign::Stop));
    // Each key on its own: a value out of its limits or not a whole number gives the default.
    // The key, then each value written and what is read (-1: the default).
    using Values = std::vector<std::pair<QByteArray, int>>;
    const std::vector<std::tuple<QByteArray, int MoreSettings::*, Values>> cases{
        {"[keepalive]\ninterval_s=", &MoreSettings::keepAliveSeconds, {{"0", 0}, {" 3600", 3600}, {"3601", -1}, {"-1", -1}, {"1e2", -1}}},
        {"[journal]\nretention_days=", &MoreSettings::retentionDays, {{"1", 1}, {"3650", 3650}, {"0", -1}, {"3651", -1}}},
        {"[journal]\nmax_mb=", &MoreSettings::journalMaxMb, {{"1", 1}, {"0", -1}}},
        {"[seguranca]\napos_s=", &MoreSettings::safeDelaySeconds, {{"1", 1}, {"3600", 3600}, {"0", -1}, {"3601", -1}}},
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
    // What race control's loss does and the base sign: their words exactly, else the default and a line.
    using Lost = MoreSettings::OnCentralLost;
    for (const auto& [text, lost, base] : {std::tuple{"[seguranca]\nao_perder_central=parar", Lost::Stop, Sign::Stop},
                                           {"[seguranca]\nao_perder_central=parar já", Lost::Keep, Sign::Stop},
                                           {"[posto]\nsinal_base=xadrez", Lost::Keep, Sign::Chequer},
                                           {"[posto]\nsinal_base=Amarelo", Lost::Keep, Sign::Stop}}) {
        const QString each = folder + "/rule" + QString::number(qHash(QByteArray(text))) + ".conf";
        QFile f(each);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(text) + "\n") > 0);
        f.close();
        problems.clear();
        const MoreSettings read = readMoreSettings(each, &problems);
        EXPECT_EQ(std::pair(read.onCentralLost, read.baseSign), std::pair(lost, base)) << text;
        EXPECT_EQ(problems.size(), QByteArray(text).contains("já") || QByteArray(text).contains("Amarelo") ? 1 : 0) << text;
    }
    // The cable's echo: exactly true or false (1 or 0), as the file's other flags; writing one
    // port's leaves every other line as the operator left it, a bad one too.
    using Echoes = std::array<bool, 2>;
    for (const auto& [text, echo, bad] :
         {std::tuple{"com1=true", Echoes{true, false}, 0}, {"com2=1\ncom1=false", Echoes{false, true}, 0}, {"com1=yes", Echoes{}, 1}, {"com1=TRUE\ncom2=on", Echoes{}, 2}}) {
        const QString each = folder + "/eco" + QString::number(qHash(QByteArray(text))) + ".conf";
        QFile f(each);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray("[keepalive]\ninterval_s=abc\n[eco]\n") + text + "\n") > 0);
        f.close();
        problems.clear();
        EXPECT_EQ(readMoreSettings(each, &problems).echo, echo) << text;
        EXPECT_EQ(problems.size(), 1 + bad) << text;
        ASSERT_EQ(writeEchoSetting(2, !echo[1], each), std::nullopt);
        problems.clear();
        EXPECT_EQ(readMoreSettings(each, &problems).echo, (Echoes{echo[0], !echo[1]})) << text;
        EXPECT_EQ(problems.size(), 1 + bad - (QByteArray(text).contains("com2=on") ? 1 : 0)) << text;
    }
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

} // namespace
