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
    void Form_Load();
    void Option1_Click();
    void Option2_Click();
    void OKButton_Click();
    void CancelButton_Click();
    void showPortDevice();
    void tabToSelectedMode();
    void fitFontToLayout();

    PanelSettings& settings_;
    QString preferencesFile_;
    QGroupBox* Frame1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLabel* portDevice = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QComboBox* Combo2 = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
};
