#include "prefs/form5.h"
#include "prefs/preferences_file.h"
#include "prefs_test_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>

namespace {

template <typename W>
W* control(const Form5& dialog, const char* name)
{
    auto* widget = dialog.findChild<W*>(QString::fromLatin1(name));
    if (!widget) ADD_FAILURE() << "no control " << name;
    return widget;
}

// What an operator does: open the list with the mouse, move to the item with the arrow keys
// and take it with Enter. (A click on the item right after opening is ignored as the tail of
// a double click.)
void pick(const Form5& dialog, const char* combo, const QString& text)
{
    auto* box = control<QComboBox>(dialog, combo);
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* list = box->view();
    ASSERT_TRUE(list->isVisible()) << combo;
    const int target = box->findText(text);
    for (int step = 0; step < 4 && list->currentIndex().row() != target; ++step)
        QTest::keyClick(list, list->currentIndex().row() < target ? Qt::Key_Down : Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_FALSE(list->isVisible()) << combo;
}

void click(const Form5& dialog, const char* name)
{
    auto* button = control<QAbstractButton>(dialog, name);
    // A radio button takes clicks on its circle and label only, at the left.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// Plays the operator's steps inside the dialog's own modal loop.
int runModal(Form5& dialog, const std::function<void(Form5&)>& steps)
{
    QTimer::singleShot(0, &dialog, [&] {
        steps(dialog);
        if (dialog.isVisible()) {
            ADD_FAILURE() << "dialog still open";
            dialog.done(-1);
        }
    });
    return dialog.exec();
}

using PreferencesDialog = PrefsFolderTest;

TEST_F(PreferencesDialog, LayoutAndTabOrder)
{
    PanelSettings settings;
    const Form5 dialog(settings);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Opções"));
    EXPECT_EQ(control<QGroupBox>(dialog, "Frame1")->title(), QStringLiteral("Porta série"));
    EXPECT_EQ(control<QComboBox>(dialog, "Combo1")->parent(), control<QGroupBox>(dialog, "Frame1"));
    auto* colours = control<QComboBox>(dialog, "Combo2");
    EXPECT_EQ(colours->parent(), control<QGroupBox>(dialog, "Frame2"));
    EXPECT_FALSE(colours->isEditable());
    const QStringList items{colours->itemText(0), colours->itemText(1), colours->itemText(2)};
    EXPECT_EQ(items, (QStringList{"Vermelho", "Verde", "Amarelo"}));

    QStringList tabOrder;
    QWidget* w = control<QWidget>(dialog, "Combo1");
    for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
        tabOrder << w->objectName();
    }
    EXPECT_EQ(tabOrder, (QStringList{"Combo1", "Option1", "Option2", "Combo2", "OKButton", "CancelButton"}));
}

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
        EXPECT_TRUE(control<QRadioButton>(dialog, option)->isChecked()) << option;
        EXPECT_EQ(control<QComboBox>(dialog, "Combo2")->isEnabled(), colourEnabled);
        EXPECT_EQ(control<QComboBox>(dialog, "Combo2")->currentText(), colour);
        EXPECT_EQ(control<QComboBox>(dialog, "Combo1")->currentText(), port);
    }
}

TEST_F(PreferencesDialog, OperatorChoicesReachSettingsAndFile)
{
    const QByteArray oldFile("COM=1\r\nMODE=1\r\nCOLOUR=255\r\n");
    struct Case {
        const char* what;
        PanelSettings before;
        std::function<void(Form5&)> steps;
        int result;
        PanelSettings after;
        QByteArray file;
    };
    const std::vector<Case> cases{
        {"mono without a colour", {1, 1, 65535}, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); },
         QDialog::Accepted, {1, 2, 255}, "COM=1\r\nMODE= 2\r\nCOLOUR= 255\r\n"},
        {"multi keeps the colour", {2, 2, 65535}, [](Form5& d) { click(d, "Option1"); click(d, "OKButton"); },
         QDialog::Accepted, {2, 1, 65535}, "COM=2\r\nMODE= 1\r\nCOLOUR= 65535\r\n"},
        {"every control", {}, [](Form5& d) {
             pick(d, "Combo1", "COM2:");
             click(d, "Option2");
             pick(d, "Combo2", "Verde");
             click(d, "OKButton");
         }, QDialog::Accepted, {2, 2, 65280}, "COM=2\r\nMODE= 2\r\nCOLOUR= 65280\r\n"},
        {"colour survives switching back", {}, [](Form5& d) {
             click(d, "Option2");
             pick(d, "Combo2", "Amarelo");
             click(d, "Option1");
             EXPECT_FALSE(control<QComboBox>(d, "Combo2")->isEnabled());
             click(d, "Option2");
             EXPECT_EQ(control<QComboBox>(d, "Combo2")->currentText(), "Amarelo");
             click(d, "OKButton");
         }, QDialog::Accepted, {1, 2, 65535}, "COM=1\r\nMODE= 2\r\nCOLOUR= 65535\r\n"},
        {"cancel", {}, [](Form5& d) {
             pick(d, "Combo1", "COM2:");
             click(d, "Option2");
             pick(d, "Combo2", "Amarelo");
             click(d, "CancelButton");
         }, QDialog::Rejected, {}, oldFile},
        {"escape", {}, [](Form5& d) {
             click(d, "Option2");
             QTest::keyClick(&d, Qt::Key_Escape);
         }, QDialog::Rejected, {}, oldFile},
    };
    for (const auto& c : cases) {
        put(oldFile);
        PanelSettings settings = c.before;
        Form5 dialog(settings);
        EXPECT_EQ(runModal(dialog, c.steps), c.result) << c.what;
        EXPECT_EQ(settings, c.after) << c.what;
        EXPECT_EQ(bytes(), c.file) << c.what;
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
    EXPECT_EQ(runModal(dialog, [](Form5& d) { click(d, "Option2"); click(d, "OKButton"); }),
              QDialog::Accepted);
    EXPECT_EQ(message, QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2")
                           .arg(file, QString::fromLocal8Bit(std::strerror(ENOTDIR))));
    EXPECT_EQ(settings, (PanelSettings{1, 2, 255}));
    EXPECT_EQ(QFileInfo(folder).size(), 0);
}

TEST(ColourNames, EveryOtherNameOrCodeMeansRed)
{
    const std::vector<std::pair<QString, ColourCode>> names{
        {"Vermelho", 255}, {"Verde", 65280}, {"Amarelo", 65535}, {"", 255}, {"verde", 255}, {"Verde ", 255}};
    for (const auto& [name, code] : names) EXPECT_EQ(Form5::colourFromName(name), code) << name;
    const std::vector<std::pair<ColourCode, QString>> codes{
        {255, "Vermelho"}, {65280, "Verde"}, {65535, "Amarelo"}, {0, "Vermelho"}, {-65280, "Vermelho"}};
    for (const auto& [code, name] : codes) EXPECT_EQ(Form5::nameFromColour(code), name) << code;
}

} // namespace
