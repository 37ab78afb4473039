#include "prefs/form5.h"
#include "prefs_test_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>

namespace {

QComboBox* combo(const Form5& dialog, const char* name) { return dialog.findChild<QComboBox*>(name); }

// As an operator picks: open the list with the mouse, arrow to the item, take it with Enter.
// (A click on the item just after opening would be ignored as the tail of a double click.)
void pick(const Form5& dialog, const char* name, const QString& text)
{
    QComboBox* box = combo(dialog, name);
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(list->isVisible()) << name;
    for (int step = 0; step < 4 && list->currentIndex().row() != box->findText(text); ++step)
        QTest::keyClick(list, list->currentIndex().row() < box->findText(text) ? Qt::Key_Down : Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
}

void click(const Form5& dialog, const char* name)
{
    auto* button = dialog.findChild<QAbstractButton*>(name);
    // A radio button takes clicks on its circle and label only, at the left.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// Plays the operator's steps inside the dialog's own modal loop.
int runModal(Form5& dialog, const std::function<void(Form5&)>& steps)
{
    QTimer::singleShot(0, &dialog, [&] {
        steps(dialog);
        if (dialog.isVisible()) {
            ADD_FAILURE() << "the dialog is still open";
            dialog.done(-1);
        }
    });
    return dialog.exec();
}

using PreferencesDialog = PrefsFolderTest;

TEST_F(PreferencesDialog, OpensShowingTheSettings)
{
    struct Case { PanelSettings settings; const char* option; bool colourEnabled; QString colour, port; };
    const std::vector<Case> cases{
        {{1, 1, 65535}, "Option1", false, "", "COM1:"},
        {{2, 2, 65535}, "Option2", true, "Amarelo", "COM2:"},
        {{1, 2, 65280}, "Option2", true, "Verde", "COM1:"},
    };
    for (auto [settings, option, colourEnabled, colour, port] : cases) {
        const Form5 dialog(settings);
        EXPECT_TRUE(dialog.findChild<QRadioButton*>(option)->isChecked()) << option;
        EXPECT_EQ(combo(dialog, "Combo2")->isEnabled(), colourEnabled);
        EXPECT_EQ(combo(dialog, "Combo2")->currentText(), colour);
        EXPECT_EQ(combo(dialog, "Combo1")->currentText(), port);
    }
}

TEST_F(PreferencesDialog, OperatorChoicesReachSettingsAndFile)
{
    const QByteArray old("COM=1\r\nMODE=1\r\nCOLOUR=255\r\n");
    struct Case { PanelSettings before; std::function<void(Form5&)> steps; int result; PanelSettings after; QByteArray file; };
    const std::vector<Case> cases{
        {{1, 1, 65535}, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); },
         QDialog::Accepted, {1, 2, 255}, "COM=1\r\nMODE= 2\r\nCOLOUR= 255\r\n"},
        {{2, 2, 65535}, [](Form5& d) { click(d, "Option1"); click(d, "OKButton"); },
         QDialog::Accepted, {2, 1, 65535}, "COM=2\r\nMODE= 1\r\nCOLOUR= 65535\r\n"},
        {{}, [](Form5& d) {
             pick(d, "Combo1", "COM2:"); click(d, "Option2"); pick(d, "Combo2", "Verde"); click(d, "OKButton");
         },
         QDialog::Accepted, {2, 2, 65280}, "COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n"},
        {{}, [](Form5& d) {
             click(d, "Option2"); pick(d, "Combo2", "Amarelo"); click(d, "Option1");
             EXPECT_FALSE(combo(d, "Combo2")->isEnabled());
             click(d, "Option2");
             EXPECT_EQ(combo(d, "Combo2")->currentText(), "Amarelo");
             click(d, "OKButton");
         }, QDialog::Accepted, {1, 2, 65535}, "COM=1\r\nMODE= 2\r\nCOLOUR= 65535\r\n"},
        {{}, [](Form5& d) {
             pick(d, "Combo1", "COM2:"); click(d, "Option2"); pick(d, "Combo2", "Verde"); click(d, "CancelButton");
         },
         QDialog::Rejected, {}, old},
        {{}, [](Form5& d) { click(d, "Option2"); QTest::keyClick(&d, Qt::Key_Escape); }, QDialog::Rejected, {}, old},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        put(old);
        PanelSettings settings = cases[i].before;
        Form5 dialog(settings);
        EXPECT_EQ(runModal(dialog, cases[i].steps), cases[i].result) << "case " << i;
        EXPECT_EQ(settings, cases[i].after) << "case " << i;
        EXPECT_EQ(bytes(), cases[i].file) << "case " << i;
    }
}

TEST_F(PreferencesDialog, FailedWriteIsReportedAndTheSettingsStillApply)
{
    QFile blocker(folder); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
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
    Form5 dialog(settings);
    EXPECT_EQ(runModal(dialog, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); }), QDialog::Accepted);
    EXPECT_EQ(message, QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2")
                           .arg(file, QString::fromLocal8Bit(std::strerror(ENOTDIR))));
    EXPECT_EQ(settings, (PanelSettings{1, 2, 255}));
    EXPECT_EQ(QFileInfo(folder).size(), 0);
}

TEST(ColourNames, EveryOtherNameOrCodeMeansRed)
{
    for (const auto& [name, code] : std::vector<std::pair<QString, ColourCode>>{
             {"Vermelho", 255}, {"Verde", 65280}, {"Amarelo", 65535}, {"", 255}, {"verde", 255}, {"Verde ", 255}})
        EXPECT_EQ(Form5::colourFromName(name), code) << name;
    for (const auto& [code, name] : std::vector<std::pair<ColourCode, QString>>{
             {255, "Vermelho"}, {65280, "Verde"}, {65535, "Amarelo"}, {0, "Vermelho"}, {-65280, "Vermelho"}})
        EXPECT_EQ(Form5::nameFromColour(code), name) << code;
}

} // namespace
