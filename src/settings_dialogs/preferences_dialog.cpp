// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialogs/preferences_dialog.h"

#include "serial/port_devices.h"
#include "settings/preferences_file.h"
#include "settings/preferences_format.h"
#include "settings/setting_names.h"
#include "widgets/twips.h"

#include <QComboBox>
#include <QDir>
#include <QFontMetrics>
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

    // colourCombo is created after monoColourOption, whose box reaches under it, so the list stays on top.
    portFrame = placed(new QGroupBox(QStringLiteral("Porta série"), this), "Frame1", twipsRect(156, 208, 3601, 793));
    modeFrame = placed(new QGroupBox(QStringLiteral("Display"), this), "Frame2", twipsRect(156, 1248, 3601, 1209));
    portCombo = placed(new QComboBox(portFrame), "Combo1", twipsRect(2145, 312, 1140, 273));
    portCombo->addItems({QStringLiteral("COM1:"), QStringLiteral("COM2:")});
    portCombo->setAccessibleName(QStringLiteral("Porta série"));
    // The free room left of the list says which device the chosen port is.
    portDevice = placed(new QLabel(portFrame), "portDevice", twipsRect(120, 250, 1965, 500));
    portDevice->setWordWrap(true);
    portDevice->setTextFormat(Qt::PlainText);
    portDevice->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    multiColourOption = placed(new QRadioButton(QStringLiteral("Sinais multi-colores"), modeFrame), "Option1", twipsRect(260, 312, 2509, 325));
    monoColourOption = placed(new QRadioButton(QStringLiteral("Sinais mono-colores"), modeFrame), "Option2", twipsRect(260, 624, 2249, 377));
    colourCombo = placed(new QComboBox(modeFrame), "Combo2", twipsRect(2145, 676, 1140, 315));
    colourCombo->addItems({colourName(colourRed), colourName(colourGreen), colourName(colourYellow)});
    colourCombo->setAccessibleName(QStringLiteral("Cor"));
    // A list takes its first item when filled; the colour list starts with none chosen.
    colourCombo->setCurrentIndex(-1);
    okButton = placed(new QPushButton(QStringLiteral("OK"), this), "OKButton", twipsRect(156, 2756, 1215, 375));
    cancelButton = placed(new QPushButton(QStringLiteral("Cancel"), this), "CancelButton", twipsRect(2548, 2756, 1215, 375));
    okButton->setDefault(true);
    fitFontToLayout();

    setTabOrder(portCombo, multiColourOption);
    setTabOrder(multiColourOption, monoColourOption);
    setTabOrder(monoColourOption, colourCombo);
    setTabOrder(colourCombo, okButton);
    setTabOrder(okButton, cancelButton);

    // toggled, not clicked: selecting a button from code must run its handler too.
    connect(multiColourOption, &QRadioButton::toggled, this, [this](bool on) {
        if (on) chooseMultiColour();
    });
    connect(monoColourOption, &QRadioButton::toggled, this, [this](bool on) {
        if (on) chooseMonoColour();
    });
    connect(portCombo, &QComboBox::currentIndexChanged, this, &PreferencesDialog::showPortDevice);
    connect(okButton, &QPushButton::clicked, this, &PreferencesDialog::acceptSettings);
    connect(cancelButton, &QPushButton::clicked, this, &PreferencesDialog::discardSettings);

    showSettings();
}

// The positions were laid out for an 8-point dialog font. With a wider font the mono-colour
// label runs under the colour list beside it, so the font is made smaller until it fits.
void PreferencesDialog::fitFontToLayout()
{
    const int room = colourCombo->x() - monoColourOption->x() - style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, monoColourOption)
                     - style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, monoColourOption);
    QFont smaller = font();
    smaller.setPointSizeF(8);
    while (smaller.pointSizeF() > 6 && QFontMetrics(smaller).horizontalAdvance(monoColourOption->text()) >= room)
        smaller.setPointSizeF(smaller.pointSizeF() - 0.5);
    setFont(smaller);
}

void PreferencesDialog::showSettings()
{
    if (settings_.signalMode == multiColourSigns) {
        multiColourOption->setChecked(true);
        colourCombo->setEnabled(false);
    } else {
        monoColourOption->setChecked(true);
        colourCombo->setEnabled(true);
        colourCombo->setCurrentIndex(colourCombo->findText(colourName(settings_.signColour)));
    }
    portCombo->setCurrentIndex(portCombo->findText(comName(settings_.comPort) + QLatin1Char(':')));
    showPortDevice();
}

// Switching modes keeps the colour chosen, so switching back shows it again.
void PreferencesDialog::showPortDevice()
{
    const QString description = portDescription(static_cast<std::int16_t>(portCombo->currentIndex() + 1));
    portDevice->setText(description);
    // A long device name may not fit the room; the whole of it is always at hand.
    portDevice->setToolTip(description);
    portDevice->setAccessibleDescription(description);
}

void PreferencesDialog::chooseMultiColour()
{
    colourCombo->setEnabled(false);
    tabToSelectedMode();
}

void PreferencesDialog::chooseMonoColour()
{
    colourCombo->setEnabled(true);
    tabToSelectedMode();
}

// Tab stops at the selected mode button only, as in any group of option buttons: landing on
// the other one, Space would change the mode without the operator meaning to. The arrow keys
// still move between the two.
void PreferencesDialog::tabToSelectedMode()
{
    for (QRadioButton* mode : {multiColourOption, monoColourOption}) mode->setFocusPolicy(mode->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
}

void PreferencesDialog::acceptSettings()
{
    // "COMn:": the port is the digit alone.
    settings_.comPort = numericValueAs<std::int16_t>(portCombo->currentText().mid(3, 1).toStdString()).value_or(0);
    if (multiColourOption->isChecked()) {
        settings_.signalMode = multiColourSigns;
    } else {
        settings_.signalMode = monoColourSigns;
        settings_.signColour = colourFromName(colourCombo->currentText());
    }

    // The new settings apply for this run even when they cannot be kept for the next one.
    if (const auto failure = writePreferences(settings_, preferencesFile_)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Não foi possível gravar as preferências.\n\n%1\n%2").arg(QDir::toNativeSeparators(preferencesFile_), *failure));
    }
    accept();
}

void PreferencesDialog::discardSettings() { reject(); }
