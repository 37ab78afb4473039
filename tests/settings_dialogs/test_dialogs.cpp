// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_serial_port.h"
#include "journal/journal.h"
#include "journal_rows.h"
#include "panel/hex_bytes.h"
#include "panel/panel_line.h"
#include "preferences_folder.h"
#include "pty_pair.h"
#include "serial/port_devices.h"
#include "settings/preferences_file.h"
#include "settings/preferences_format.h"
#include "settings_dialogs/more_options_dialog.h"
#include "settings_dialogs/preferences_dialog.h"
#include "settings_dialogs/serial_ports_window.h"

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <tuple>

namespace {

using namespace std::string_literals;

// "Mais opções…" shows what reading the file met, refuses what the program would (a broker
// elsewhere without TLS, a password file others can read) with nothing changed, and writes what it
// shows; pref.vyr is never touched.
TEST_F(PreferencesFile, MoreOptionsDialogWritesWhatItShows)
{
    const QString conf = moreSettingsPath(file);
    QDir().mkpath(folder);
    const QStringList problems{"journal/retention_days = \"0\" não é um número de 1 a 3650: fica o valor de origem."};
    MoreSettings more;
    MoreOptionsDialog dialog(more, conf, problems, "MQTT: sem ligação a x: nome ou palavra-passe recusados");
    EXPECT_EQ(dialog.findChild<QLabel*>("problems")->text(), problems.join('\n'));
    EXPECT_EQ(dialog.findChild<QLabel*>("mqttState")->text(), "Agora: sem ligação a x: nome ou palavra-passe recusados");
    dialog.findChild<QSpinBox*>("keepAlive")->setValue(30);
    dialog.findChild<QSpinBox*>("retention")->setValue(90);
    dialog.findChild<QSpinBox*>("journalSize")->setValue(7);
    EXPECT_FALSE(dialog.findChild<QSpinBox*>("safeDelay")->isEnabled()); // kept, the delay is moot
    dialog.findChild<QComboBox*>("onCentralLost")->setCurrentIndex(1);
    dialog.findChild<QSpinBox*>("safeDelay")->setValue(45);
    dialog.findChild<QComboBox*>("baseSign")->setCurrentText("Esquerda");
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
    EXPECT_EQ(std::tuple(more.onCentralLost, more.safeDelaySeconds, more.baseSign), std::tuple(MoreSettings::OnCentralLost::Stop, 45, Sign::Left));
    EXPECT_FALSE(QFile::exists(file));
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
    SerialPortsWindow window([&](std::int16_t n) { return link.lastFailure(n); }, nullptr, home.filePath("by-id"));
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
    // With the cable's echo on, the test sends display_on alone and says whether it came back.
    std::vector<std::pair<int, bool>> echoSet;
    std::optional<QString> refusal;
    window.setEcho({false, true}, [&](std::int16_t n, bool on) { return echoSet.emplace_back(n, on), refusal; });
    auto* echo = window.findChild<QCheckBox*>("echoCom1");
    ASSERT_TRUE(echo->isEnabled() && !echo->isChecked() && window.findChild<QCheckBox*>("echoCom2")->isChecked() && echoSet.empty());
    echo->click();
    EXPECT_EQ(text("message"), "COM1 compara cada envio com o eco do cabo.");
    press("testCom1");
    EXPECT_EQ(hexBytes(pty.read(4)), "A5 79 5A 71");
    const QString sent = ". Enviado só display_on (4 bytes), que não muda o sinal.";
    EXPECT_EQ(text("message"), "COM1 (" + pts + ") abre e envia, mas sem eco do cabo em COM1: o cabo pode estar cortado ou desligado no painel" + sent);
    auto looped = std::async(std::launch::async, [&] { return ::write(pty.masterFd(), pty.read(4).data(), 4); });
    press("testCom1");
    EXPECT_EQ(looped.get(), 4);
    EXPECT_EQ(text("message"), "COM1 (" + pts + "): o eco do cabo voltou" + sent);
    refusal = "não foi possível escrever painel-sinaletico.conf";
    echo->click();
    EXPECT_TRUE(echo->isChecked()); // the file still says so
    EXPECT_EQ(text("message"), *refusal);
    EXPECT_EQ(echoSet, (std::vector<std::pair<int, bool>>{{1, true}, {1, false}}));
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
    SerialPortsWindow window([&](std::int16_t n) { return link.lastFailure(n); }, nullptr, home.filePath("by-id"));
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
