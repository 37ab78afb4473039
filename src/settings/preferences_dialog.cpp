// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/preferences_dialog.h"

#include "serial/port_devices.h"
#include "settings/preferences_file.h"
#include "settings/preferences_format.h"
#include "settings/setting_names.h"
#include "widgets/twips.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace {

template <typename W>
W* placed(W* widget, const char* name, const QRect& geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

PreferencesDialog::PreferencesDialog(PanelSettings& settings, QString preferencesFile, QWidget* parent)
    : QDialog(parent), settings_(settings), preferencesFile_(std::move(preferencesFile))
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Opções"));
    setFixedSize(twipsSize(3939, 3328));

    // Combo2 is created after Option2, whose box reaches under it, so the list stays on top.
    Frame1 = placed(new QGroupBox(QStringLiteral("Porta série"), this), "Frame1",
                    twipsRect(156, 208, 3601, 793));
    Frame2 = placed(new QGroupBox(QStringLiteral("Display"), this), "Frame2",
                    twipsRect(156, 1248, 3601, 1209));
    Combo1 = placed(new QComboBox(Frame1), "Combo1", twipsRect(2145, 312, 1140, 273));
    Combo1->addItems({QStringLiteral("COM1:"), QStringLiteral("COM2:")});
    Combo1->setAccessibleName(QStringLiteral("Porta série"));
    // The free room left of the list says which device the chosen port is.
    portDevice = placed(new QLabel(Frame1), "portDevice", twipsRect(120, 250, 1965, 500));
    portDevice->setWordWrap(true);
    portDevice->setTextFormat(Qt::PlainText);
    portDevice->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Option1 = placed(new QRadioButton(QStringLiteral("Sinais multi-colores"), Frame2), "Option1",
                     twipsRect(260, 312, 2509, 325));
    Option2 = placed(new QRadioButton(QStringLiteral("Sinais mono-colores"), Frame2), "Option2",
                     twipsRect(260, 624, 2249, 377));
    Combo2 = placed(new QComboBox(Frame2), "Combo2", twipsRect(2145, 676, 1140, 315));
    Combo2->addItems({colourName(colourRed), colourName(colourGreen), colourName(colourYellow)});
    Combo2->setAccessibleName(QStringLiteral("Cor"));
    // A list takes its first item when filled; the colour list starts with none chosen.
    Combo2->setCurrentIndex(-1);
    OKButton = placed(new QPushButton(QStringLiteral("OK"), this), "OKButton",
                      twipsRect(156, 2756, 1215, 375));
    CancelButton = placed(new QPushButton(QStringLiteral("Cancel"), this), "CancelButton",
                          twipsRect(2548, 2756, 1215, 375));
    OKButton->setDefault(true);
    fitFontToLayout();

    setTabOrder(Combo1, Option1);
    setTabOrder(Option1, Option2);
    setTabOrder(Option2, Combo2);
    setTabOrder(Combo2, OKButton);
    setTabOrder(OKButton, CancelButton);

    // toggled, not clicked: selecting a button from code must run its handler too.
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) { if (on) Option1_Click(); });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) { if (on) Option2_Click(); });
    connect(Combo1, &QComboBox::currentIndexChanged, this, &PreferencesDialog::showPortDevice);
    connect(OKButton, &QPushButton::clicked, this, &PreferencesDialog::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &PreferencesDialog::CancelButton_Click);

    Form_Load();
}

// The positions were laid out for an 8-point dialog font. With a wider font the mono-colour
// label runs under the colour list beside it, so the font is made smaller until it fits.
void PreferencesDialog::fitFontToLayout()
{
    const int room = Combo2->x() - Option2->x()
                     - style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, Option2)
                     - style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, Option2);
    QFont smaller = font();
    smaller.setPointSizeF(8);
    while (smaller.pointSizeF() > 6
           && QFontMetrics(smaller).horizontalAdvance(Option2->text()) >= room)
        smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
    setFont(smaller);
}

void PreferencesDialog::Form_Load()
{
    if (settings_.signalMode == multiColourSigns) {
        Option1->setChecked(true);
        Combo2->setEnabled(false);
    } else {
        Option2->setChecked(true);
        Combo2->setEnabled(true);
        Combo2->setCurrentIndex(Combo2->findText(colourName(settings_.signColour)));
    }
    Combo1->setCurrentIndex(Combo1->findText(comName(settings_.comPort) + QLatin1Char(':')));
    showPortDevice();
}

// Switching modes keeps the colour chosen, so switching back shows it again.
void PreferencesDialog::showPortDevice()
{
    const QString description = portDescription(static_cast<std::int16_t>(Combo1->currentIndex() + 1));
    portDevice->setText(description);
    // A long device name may not fit the room; the whole of it is always at hand.
    portDevice->setToolTip(description);
    portDevice->setAccessibleDescription(description);
}

void PreferencesDialog::Option1_Click()
{
    Combo2->setEnabled(false);
    tabToSelectedMode();
}

void PreferencesDialog::Option2_Click()
{
    Combo2->setEnabled(true);
    tabToSelectedMode();
}

// Tab stops at the selected mode button only, as in any group of option buttons: landing on
// the other one, Space would change the mode without the operator meaning to. The arrow keys
// still move between the two.
void PreferencesDialog::tabToSelectedMode()
{
    for (QRadioButton* mode : {Option1, Option2}) mode->setFocusPolicy(mode->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void PreferencesDialog::OKButton_Click()
{
    // "COMn:": the port is the digit alone.
    settings_.comPort =
        numericValueAs<std::int16_t>(Combo1->currentText().mid(3, 1).toStdString()).value_or(0);
    if (Option1->isChecked()) {
        settings_.signalMode = multiColourSigns;
    } else {
        settings_.signalMode = monoColourSigns;
        settings_.signColour = colourFromName(Combo2->currentText());
    }

    // The new settings apply for this run even when they cannot be kept for the next one.
    if (const auto failure = writePreferences(settings_, preferencesFile_)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2")
                                 .arg(QDir::toNativeSeparators(preferencesFile_), *failure));
    }
    accept();
}

void PreferencesDialog::CancelButton_Click() { reject(); }
