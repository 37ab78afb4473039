#include "app/form1.h"
#include "app/form3.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/status_bar.h"
#include "fake_serial_port.h"

#include <QtWidgets>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `action` on whichever modal dialog opens next, from inside its own event loop.
void onNextModal(const std::function<void(QWidget*)>& action)
{
    QTimer::singleShot(0, qApp, [action] {
        if (QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
            action(QApplication::activeModalWidget());
    });
}

void clickButton(QWidget* dialog, const char* name)
{
    QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

struct Form1Test : ::testing::Test {
    QTemporaryDir home;
    FakeSerialPort port;
    PanelSettings settings;
    std::unique_ptr<Form1> form;

    void start()
    {
        form = std::make_unique<Form1>(QStringLiteral("Caption"), settings, port, home.filePath("pref.vyr"));
        form->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form->firstActivation(); }));
    }
    void clickSign(std::int16_t index)
    {
        QRadioButton& button = form->option1(index);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(8, button.height() / 2));
    }
    [[nodiscard]] QString panel(int n) const { return form->statusBar1().panelText(n); }
};

TEST_F(Form1Test, StartUpSendsThePanelItsFirstSignOnce)
{
    start();
    EXPECT_EQ(form->windowTitle(), "Caption");
    EXPECT_TRUE(form->option1(0).isChecked());
    EXPECT_EQ(panel(2), "COM1:");
    EXPECT_EQ(panel(1), QString(29, ' '));
    EXPECT_EQ(port.sent(), frames::startup + " " + frames::sign[0]);
    EXPECT_FALSE(port.open);
    // Activation comes again (a dialog closing, the window refocused): no second start-up.
    port.clearRecord();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &activate);
    EXPECT_EQ(port.sent(), "");
}

TEST_F(Form1Test, ClicksAndArrowKeysSendTheirSigns)
{
    start();
    for (const std::int16_t index : {1, 3, 2, 0, 4, 4}) {
        port.clearRecord();
        clickSign(index);
        EXPECT_TRUE(form->option1(index).isChecked());
        EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]);
        EXPECT_EQ(port.writes.size(), 22U);
    }
    // Screen order is Parar, Frente, Esquerda, Direita, Xadrez.
    clickSign(0);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (const std::int16_t index : {1, 3, 2}) {
        port.clearRecord();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        EXPECT_EQ(QApplication::focusWidget(), &form->option1(index));
        EXPECT_EQ(port.sent(), frames::sign[std::size_t(index)]);
    }
}

TEST(AboutBox, ShowsItsTextsWithOkFocused)
{
    Form3 about;
    about.show();
    EXPECT_EQ(about.windowTitle() + "|" + about.findChild<QLabel*>("Label1")->text() + "|"
                  + about.findChild<QLabel*>("Label4")->text(), "Sobre ...|Controlo do painel sinalético|Maio de 2003");
    EXPECT_EQ(about.focusWidget(), about.findChild<QPushButton*>("OKButton"));
}

TEST_F(Form1Test, PreferencesThenThePortIsTriedOnceWithoutRepeatingTheStartUp)
{
    start();
    auto* prefs = form->findChild<QAction*>("MNU_PREFS");
    EXPECT_EQ(prefs->shortcut(), QKeySequence("Ctrl+P"));
    port.clearRecord();
    form->statusBar1().setPanelText(2, "stale");
    onNextModal([](QWidget* dialog) { clickButton(dialog, "CancelButton"); });
    prefs->trigger();
    EXPECT_EQ(panel(2), "COM1:");
    EXPECT_EQ(port.calls, (std::vector<std::string>{"setPortNumber 1", "open", "close"}));
    EXPECT_EQ(port.sent(), "");

    // OK on COM2: the status bar and the next open follow the new port at once.
    port.clearRecord();
    onNextModal([](QWidget* dialog) {
        dialog->findChild<QComboBox*>("Combo1")->setCurrentIndex(1);
        clickButton(dialog, "OKButton");
    });
    prefs->trigger();
    EXPECT_EQ(settings.comPort, 2);
    EXPECT_EQ(panel(2), "COM2:");
    EXPECT_EQ(port.calls, (std::vector<std::string>{"setPortNumber 2", "open", "close"}));
}

TEST_F(Form1Test, ExitClosesTheWindowAndTheStatusBarKeepsDateAndTime)
{
    const QDateTime before = QDateTime::currentDateTime();
    start();
    const QDateTime after = QDateTime::currentDateTime();
    for (const auto& [n, format] : {std::pair{3, "dd-MM-yyyy"}, std::pair{4, "HH:mm"}})
        EXPECT_TRUE(panel(n) == before.toString(format) || panel(n) == after.toString(format)) << panel(n).toStdString();
    auto* exit = form->findChild<QAction*>("MNU_EXIT");
    EXPECT_EQ(exit->shortcut(), QKeySequence("Ctrl+X"));
    exit->trigger();
    EXPECT_FALSE(form->isVisible());
}

TEST(StartUp, ASecondCopyIsRefusedWithTheInfoBox)
{
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    SingleInstance first;
    ASSERT_TRUE(first.acquire());
    QStringList seen;
    onNextModal([&](QWidget* box) {
        seen << box->windowTitle() << qobject_cast<QMessageBox*>(box)->text();
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    // Should the copy start after all, this ends it instead of waiting for ever.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, qApp, &QApplication::quit);
    guard.start(10000);
    EXPECT_EQ(Main(), 0);
    EXPECT_EQ(seen, (QStringList{"Info", "Sorry! Para esse já dei..;-)."}));
    EXPECT_EQ(mainForm, nullptr);
}

} // namespace
