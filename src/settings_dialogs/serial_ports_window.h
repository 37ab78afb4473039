// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/panel_line.h"
#include "serial/port_devices.h"

#include <QDialog>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class Journal;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// "Portas série": the serial ports the system has, which device COM1 and COM2 are and how
// their last exchange failed, the means to bind either to another device, and whether each
// checks the cable's echo. "Testar" opens and closes the port and, with the echo on, sends only
// display_on, which changes nothing the panel shows, to see whether it comes back.
class SerialPortsWindow final : public QDialog {
    Q_OBJECT
public:
    // `lastFailure` tells the last failure of each port; `stableFolder` is where stable names live.
    // Port n's last failure in the program's own sends, when it had one.
    using LastFailure = std::function<std::optional<LineFailure>(std::int16_t port)>;
    explicit SerialPortsWindow(LastFailure lastFailure, QWidget* parent = nullptr, QString stableFolder = stableNamesFolder);

    // The list is read again while the window is open, so adapters show as they come and go.
    static constexpr int refreshMs = 1000;

    // Bindings made and removed are journaled there.
    void setJournal(Journal* journal) { journal_ = journal; }
    // Each port's "Eco do cabo" as the settings have it, and how to change it: `change` keeps
    // and applies the setting, or says why it could not (and the box goes back).
    using EchoChange = std::function<std::optional<QString>(std::int16_t port, bool on)>;
    void setEcho(const std::array<bool, 2>& on, EchoChange change);

    void refresh();
    void bind(std::int16_t number);
    void unbind(std::int16_t number);
    void test(std::int16_t number);

private:
    struct PortRow {
        QLabel* binding = nullptr;
        QLabel* failure = nullptr;
        QPushButton* unbind = nullptr;
        QCheckBox* echo = nullptr;
        std::optional<LineFailure> tested; // the last "Testar" that failed
    };

    void refreshDetected();
    void refreshBindings();
    // Grows the window to show every line whole: wrapped lines need more height as they grow,
    // and a long device name more width, which a dialog does not follow by itself.
    void fitToText();
    void showEvent(QShowEvent* event) override;
    void say(const QString& message);
    void changeEcho(std::int16_t number, bool on);
    void journal(std::int16_t number, const QString& action, const QString& target, const std::optional<QString>& failure);
    [[nodiscard]] QString chosenDevice() const;

    LastFailure lastFailure_;
    EchoChange changeEcho_;
    Journal* journal_ = nullptr;
    QString stableFolder_;
    QTreeWidget* detectedPorts = nullptr;
    QLineEdit* typedDevice = nullptr;
    QLabel* message = nullptr;
    std::array<PortRow, 2> ports_{};
    QStringList shownPorts_;
    QTimer refresh_;
};
