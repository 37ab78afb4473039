// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_commands.h"
#include "panel/panel_link.h"
#include "prefs/journal.h"
#include "prefs/more_settings.h"
#include "prefs/panel_settings.h"
#include "signs/sign_table.h"

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <memory>

class Form3;
class Form5;
class JournalWindow;
class MqttLink;
class PanelPreview;
class PanelStatusBar;
class QButtonGroup;
class QGroupBox;
class QRadioButton;
class SerialPort;
class SerialPortsWindow;
class SignDisplay;

// The main window: the five sign buttons, the preview, the menu and the status bar. It owns
// the panel link and routes every operator action to it.
class Form1 final : public QMainWindow {
    Q_OBJECT
public:
    // The settings are read from `preferencesFile` when the window loads. Every action is
    // journaled in `journal`, when there is one.
    Form1(const QString& caption, PanelSettings& settings, SerialPort& port, QString preferencesFile,
          Journal* journal = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load();
    void Form_Activate();
    SendOutcome Option1_Click(std::int16_t index, Origin origin = Origin::Mouse);
    // A sign chosen from outside the window: its button is chosen, then it goes as a click.
    SendOutcome chooseSign(SignKind kind, Origin origin);
    [[nodiscard]] const PanelLink& link() const { return link_; }
    [[nodiscard]] const PanelSettings& settings() const { return settings_; }
    void MNU_PREFS_Click();
    void MNU_PORTS_Click();
    void MNU_MORE_Click();
    void MNU_JOURNAL_Click();
    void MNU_ABOUT_Click();
    void MNU_EXIT_Click();
    // Restored if minimised, raised and activated: another copy was started and refused.
    void comeForward();
    // The program ends: the broker is told "offline" now rather than by the last will.
    void endSession();

    [[nodiscard]] PanelStatusBar& statusBar1() const { return *StatusBar1; }
    [[nodiscard]] PanelPreview& picture1() const { return *Picture1; }
    [[nodiscard]] SignDisplay& signDisplay() const { return *signs_; }
    [[nodiscard]] JournalWindow* journalWindow() const { return journalWindow_.get(); }
    [[nodiscard]] MqttLink* mqtt() const { return mqtt_.get(); }
    [[nodiscard]] QRadioButton& option1(std::int16_t index) const;
    [[nodiscard]] bool firstActivation() const { return firstActivation_ != 0; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenu();
    void buildSignButtons(QWidget* central);
    // A change made in a dialog, with its old and new values.
    void journalChange(const QString& action, const QStringList& changes);
    // The MQTT client as painel-sinaletico.conf sets it, started afresh, or none.
    void startMqtt();
    // Panel 1's standing note: the journal's trouble and the broker's state.
    void showNotes();

    QString caption_;
    PanelSettings& settings_;
    QString preferencesFile_;
    MoreSettings more_;
    QStringList moreProblems_; // met reading painel-sinaletico.conf, for "Mais opções"
    Journal* journal_;
    SerialPort& MSComm1;
    PanelStatusBar* StatusBar1 = nullptr;
    PanelLink link_;
    PanelCommands commands_;
    QGroupBox* Frame1 = nullptr;
    QButtonGroup* Option1 = nullptr;
    std::array<QRadioButton*, 5> optionButtons_{};
    PanelPreview* Picture1 = nullptr;
    SignDisplay* signs_ = nullptr;
    std::unique_ptr<Form3> about;
    std::unique_ptr<Form5> options;
    std::unique_ptr<SerialPortsWindow> portsWindow;
    std::unique_ptr<JournalWindow> journalWindow_;
    std::unique_ptr<MqttLink> mqtt_;
    QString mqttNote_;
    std::int16_t firstActivation_ = 0;
    bool centred_ = false;
};
