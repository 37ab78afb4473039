// The built program, run as an operator would run it, against pseudo-terminals standing in
// for the panel.
#include "pty_pair.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frames(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes startup{0xA5, 0x79, 0x5A, 0x75, 0xE7, 0xA5, 0x79, 0x5A, 0x76, 0x51, 0xA5, 0x79, 0x5A, 0x71};
const Bytes stopLines{0xC3, 0xE7, 0x7E, 0x3C, 0x3C, 0x7E, 0xE7, 0xC3};
const Bytes zeros(8, 0x00);
const Bytes tail{0xA5, 0x79, 0x5A, 0x7B, 0x04, 0xA5, 0x79, 0x5A, 0x71};

const Bytes stopMultiColour = frames({startup, {0xA5, 0x79, 0x5A, 0x75, 0xE7, 0xA5, 0x79, 0x5A, 0x76, 0x51},
                                      {0xA5, 0x79, 0x5A, 0x73}, stopLines, {0xA5, 0x79, 0x5A, 0x74}, zeros, tail});
const Bytes stopMonoGreen = frames({startup, {0xA5, 0x79, 0x5A, 0x75, 0x9C, 0xA5, 0x79, 0x5A, 0x76, 0x9C},
                                    {0xA5, 0x79, 0x5A, 0x73}, zeros, {0xA5, 0x79, 0x5A, 0x74}, stopLines, tail});

class ProgramTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    std::vector<std::unique_ptr<QProcess>> processes_;

    QString configDir() const { return home_->path() + QStringLiteral("/config/painel-sinaletico"); }

    void linkPort(int n, const PtyPair& pty) const
    {
        QDir().mkpath(configDir());
        QVERIFY(QFile::link(QString::fromStdString(pty.slavePath()), configDir() + QStringLiteral("/com%1").arg(n)));
    }

    QProcessEnvironment environment(const QString& platform = QStringLiteral("offscreen")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home_->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_->path() + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        return env;
    }

    QProcess& start(const QProcessEnvironment& env)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(PROGRAM_PATH), {});
        processes_.push_back(std::move(process));
        return *processes_.back();
    }

private slots:
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QDir().mkpath(home_->path() + QStringLiteral("/runtime"));
        QFile::setPermissions(home_->path() + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    void cleanup()
    {
        // Newest first: the programs before the display server they draw on.
        for (auto p = processes_.rbegin(); p != processes_.rend(); ++p) {
            (*p)->kill();
            (*p)->waitForFinished(5000);
        }
        processes_.clear();
        home_.reset();
    }

    void withoutPreferencesStartsOnCom1WithParar()
    {
        PtyPair com1;
        linkPort(1, com1);
        QProcess& program = start(environment());
        QVERIFY(program.waitForStarted());
        QVERIFY(com1.read(stopMultiColour.size(), 10000) == stopMultiColour);
        QVERIFY(com1.read(1, 300).empty());
        QVERIFY(!QFile::exists(configDir() + QStringLiteral("/pref.vyr")));
    }

    void preferencesForCom2MonoGreenAreHonoured()
    {
        PtyPair com1;
        PtyPair com2;
        linkPort(1, com1);
        linkPort(2, com2);
        QFile prefs(configDir() + QStringLiteral("/pref.vyr"));
        QVERIFY(prefs.open(QIODevice::WriteOnly));
        prefs.write("COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n");
        prefs.close();
        QProcess& program = start(environment());
        QVERIFY(program.waitForStarted());
        QVERIFY(com2.read(stopMonoGreen.size(), 10000) == stopMonoGreen);
        QVERIFY(com1.readAvailable().empty());
    }

    void aKilledCopyDoesNotBlockTheNext()
    {
        PtyPair com1;
        linkPort(1, com1);
        QProcess& first = start(environment());
        QVERIFY(com1.read(stopMultiColour.size(), 10000) == stopMultiColour);
        first.kill();  // SIGKILL: no chance to remove its lock
        QVERIFY(first.waitForFinished(5000));
        QProcess& second = start(environment());
        QVERIFY(second.waitForStarted());
        QVERIFY(com1.read(stopMultiColour.size(), 10000) == stopMultiColour);
        QCOMPARE(second.state(), QProcess::Running);
    }

    // Needs a real X display: the refusal is a message box the operator must dismiss.
    // Also the kiosk case: a desktop where the window is shown but never activated.
    void aSecondCopyIsRefusedWithAMessage()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        QVERIFY2(!xvfb.isEmpty() && !xdotool.isEmpty(), "Xvfb and xdotool are needed (scripts/deps.sh installs them)");
        processes_.push_back(std::make_unique<QProcess>());
        QProcess& server = *processes_.back();
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("1024x768x24")});
        QVERIFY(server.waitForReadyRead(10000));
        const QString display = QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();

        PtyPair com1;
        linkPort(1, com1);
        QProcessEnvironment env = environment(QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        QProcess& first = start(env);
        QVERIFY(first.waitForStarted());
        // A bare X server has no window manager, so nothing ever activates this window: the
        // panel must be set up all the same.
        QVERIFY(com1.read(stopMultiColour.size(), 10000) == stopMultiColour);

        QProcess& second = start(env);
        QVERIFY(second.waitForStarted());
        auto xdo = [&](const QStringList& args) {
            QProcess tool;
            tool.setProcessEnvironment(env);
            tool.start(xdotool, args);
            tool.waitForFinished(15000);
            return QString::fromLatin1(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        };
        const QStringList box = xdo({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"),
                                     QStringLiteral("^Info$")});
        QCOMPARE(box.size(), 1);
        // Only the first copy has a main window.
        QCOMPARE(xdo({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Tramonda")}).size(), 1);
        xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), box.first()});
        xdo({QStringLiteral("key"), QStringLiteral("Return")});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(com1.readAvailable().empty());
    }
};

} // namespace

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
