#include "app/form1.h"
#include "app/form3.h"
#include "app/single_instance.h"
#include "app/status_bar.h"
#include "fake_serial_port.h"
#include "signs/sign_display.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const Bytes startupFrames{0xA5, 0x79, 0x5A, 0x75, 0xE7, 0xA5, 0x79, 0x5A, 0x76, 0x51, 0xA5, 0x79, 0x5A, 0x71};

// The sign-code frame of each sign: what tells the signs apart on the line.
Bytes signCodeFrame(std::uint8_t code) { return {0xA5, 0x79, 0x5A, 0x7B, code}; }

// Where an operator clicks a sign button: on its round indicator.
void clickSign(QRadioButton& button)
{
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(8, button.height() / 2));
}

// Runs `action` on whichever modal dialog opens next, from inside its own event loop.
void onNextModal(const std::function<void(QWidget*)>& action)
{
    QTimer::singleShot(0, qApp, [action] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        action(QApplication::activeModalWidget());
    });
}

int openDialogs(const char* className)
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits(className)) ++n;
    return n;
}

class Form1Test : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    FakeSerialPort port_;
    PanelSettings settings_;
    std::unique_ptr<Form1> form_;

    void startForm()
    {
        form_ = std::make_unique<Form1>(QStringLiteral("Caption"), settings_, port_);
        form_->show();
        QTRY_VERIFY(!form_->firstActivation());
    }

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit()); }
    void init()
    {
        QFile::remove(home_.path() + QStringLiteral("/painel-sinaletico/pref.vyr"));
        port_ = FakeSerialPort{};
        settings_ = PanelSettings{};
        startForm();
    }
    void cleanup() { form_.reset(); }

    void startUpSendsThePanelItsFirstSignOnce()
    {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Caption"));
        QVERIFY(form_->option1(0).isChecked());
        QCOMPARE(form_->statusBar1().panelText(2), QStringLiteral("COM1:"));
        QCOMPARE(form_->statusBar1().panelText(1), QString(29, QLatin1Char(' ')));
        const Bytes wire = port_.wire();
        QVERIFY(wire.size() == startupFrames.size() + 43);
        QVERIFY(Bytes(wire.begin(), wire.begin() + 14) == startupFrames);
        QVERIFY(port_.writes.back() == (Bytes{0xA5, 0x79, 0x5A, 0x71}));
        QVERIFY(!port_.open);
        // Activation comes again (a dialog closing, the window refocused): no second start-up.
        port_.clearRecord();
        form_->Form_Activate();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(form_.get(), &activate);
        QVERIFY(port_.writes.empty());
    }

    void aClickOnEachSignSendsItsFrames()
    {
        const std::vector<std::pair<std::int16_t, std::uint8_t>> signs{{1, 2}, {3, 1}, {2, 3}, {0, 4}, {4, 7}};
        for (auto [index, code] : signs) {
            port_.clearRecord();
            clickSign(form_->option1(index));
            QVERIFY(form_->option1(index).isChecked());
            QCOMPARE(port_.writes.size(), std::size_t{22});
            QVERIFY(port_.writes[20] == signCodeFrame(code));
            QCOMPARE(port_.calls.back(), std::string("close"));
        }
        // Clicking the chosen sign again repeats it: the panel cannot say it missed one.
        port_.clearRecord();
        clickSign(form_->option1(4));
        QVERIFY(port_.writes.size() == 22 && port_.writes[20] == signCodeFrame(7));
    }

    void arrowKeysMoveThroughTheSignsInScreenOrder()
    {
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        form_->option1(0).setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), &form_->option1(0));
        // Screen order is Parar, Frente, Esquerda, Direita, Xadrez.
        for (auto [index, code] : std::vector<std::pair<std::int16_t, std::uint8_t>>{{1, 2}, {3, 1}, {2, 3}}) {
            port_.clearRecord();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
            QCOMPARE(QApplication::focusWidget(), &form_->option1(index));
            QVERIFY(form_->option1(index).isChecked());
            QVERIFY(port_.writes.size() == 22 && port_.writes[20] == signCodeFrame(code));
        }
    }

    void aboutBoxShowsItsTextsAndLeavesNothingBehind()
    {
        auto* about = form_->findChild<QAction*>(QStringLiteral("MNU_ABOUT"));
        QVERIFY(about != nullptr);
        for (int round = 0; round < 2; ++round) {
            port_.clearRecord();
            QString caption;
            QStringList texts;
            bool okFocused = false;
            onNextModal([&](QWidget* dialog) {
                caption = dialog->windowTitle();
                for (const char* name : {"Label1", "Label3", "Label4", "Label5"})
                    texts << dialog->findChild<QLabel*>(QString::fromLatin1(name))->text();
                auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("OKButton"));
                okFocused = dialog->focusWidget() == ok;
                QTest::mouseClick(ok, Qt::LeftButton);
            });
            about->trigger();
            QVERIFY(okFocused);
            QCOMPARE(caption, QStringLiteral("Sobre ..."));
            QCOMPARE(texts.value(0), QStringLiteral("Controlo do painel sinalético"));
            QCOMPARE(texts.value(2), QStringLiteral("Maio de 2003"));
            QCOMPARE(openDialogs("Form3"), 0);
            QVERIFY(port_.writes.empty());
        }
    }

    void preferencesDialogThenPortTriedOnceWithoutRepeatingStartUp()
    {
        auto* prefs = form_->findChild<QAction*>(QStringLiteral("MNU_PREFS"));
        QVERIFY(prefs != nullptr);
        QCOMPARE(prefs->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
        port_.clearRecord();
        form_->statusBar1().setPanelText(2, "stale");
        onNextModal([](QWidget* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CancelButton")), Qt::LeftButton);
        });
        prefs->trigger();
        QCOMPARE(form_->statusBar1().panelText(2), QStringLiteral("COM1:"));
        QCOMPARE(port_.calls, (std::vector<std::string>{"setPortNumber 1", "open", "close"}));
        QVERIFY(port_.writes.empty());

        // The port cannot be opened: the failure shows, nothing else happens.
        port_.clearRecord();
        port_.openError = errnum::couldNotOpenDevice;
        onNextModal([](QWidget* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("CancelButton")), Qt::LeftButton);
        });
        prefs->trigger();
        QCOMPARE(form_->statusBar1().panelText(1), QStringLiteral("Erro a abrir a porta serie"));
        QCOMPARE(form_->statusBar1().panel(1).toolTip(), QStringLiteral("Permission denied"));
        QCOMPARE(port_.calls, (std::vector<std::string>{"setPortNumber 1", "open"}));

        // OK on COM2: the status bar and the next open follow the new port at once.
        port_.clearRecord();
        port_.openError.reset();
        onNextModal([](QWidget* dialog) {
            dialog->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("OKButton")), Qt::LeftButton);
        });
        prefs->trigger();
        QCOMPARE(settings_.comPort, std::int16_t{2});
        QCOMPARE(form_->statusBar1().panelText(2), QStringLiteral("COM2:"));
        QCOMPARE(port_.calls, (std::vector<std::string>{"setPortNumber 2", "open", "close"}));
        QCOMPARE(openDialogs("Form5"), 0);
    }

    void exitClosesTheWindowLikeTheCloseBox()
    {
        auto* exit = form_->findChild<QAction*>(QStringLiteral("MNU_EXIT"));
        QCOMPARE(exit->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
        exit->trigger();
        QVERIFY(!form_->isVisible());
        QVERIFY(!port_.open);
    }

    void startUpWithoutAPortLeavesThePreviewEmpty()
    {
        form_.reset();
        port_ = FakeSerialPort{};
        port_.openError = errnum::invalidPortNumber;
        startForm();
        QVERIFY(port_.writes.empty());
        QCOMPARE(form_->statusBar1().panelText(1), QStringLiteral("Erro a abrir a porta serie"));
        QCOMPARE(form_->option1(0).isChecked(), true);
    }

    void secondLockOnTheSamePathIsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("lock"));
        SingleInstance first(path);
        QVERIFY(first.acquire());
        SingleInstance second(path);
        QVERIFY(!second.acquire());
    }
};

} // namespace

QTEST_MAIN(Form1Test)
#include "test_form1.moc"
