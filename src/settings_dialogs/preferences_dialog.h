// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/panel_settings.h"

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The preferences dialog ("Opções"): serial port, colour mode of the signs and the colour of
// mono-colour signs. It edits the settings it is given in place, and only on OK, which also
// rewrites the preferences file; any other way of closing it changes nothing.
class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    // `preferencesFile` is where OK writes the settings.
    PreferencesDialog(PanelSettings& settings, QString preferencesFile, QWidget* parent = nullptr);

private:
    void showSettings();
    void chooseMultiColour();
    void chooseMonoColour();
    void acceptSettings();
    void discardSettings();
    void showPortDevice();
    void tabToSelectedMode();
    void fitFontToLayout();

    PanelSettings& settings_;
    QString preferencesFile_;
    QGroupBox* portFrame = nullptr;
    QComboBox* portCombo = nullptr;
    QLabel* portDevice = nullptr;
    QGroupBox* modeFrame = nullptr;
    QRadioButton* multiColourOption = nullptr;
    QRadioButton* monoColourOption = nullptr;
    QComboBox* colourCombo = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
