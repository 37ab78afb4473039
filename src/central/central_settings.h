// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/more_settings.h"

#include <QDialog>

#include <optional>

class MqttSettingsBox;

// painel-central.conf, beside the posts' own files: its [mqtt] group, with the posts' keys and
// rules; the id names the control room on the broker and begins its requests' ids.
struct CentralSettings {
    MqttSettings mqtt;
    QString refused;      // why the file's broker was not used
    QStringList problems; // what reading the file met, for the operator
};
[[nodiscard]] QString centralSettingsPath();
[[nodiscard]] CentralSettings readCentralSettings(const QString& fileName);
// nullopt on success, otherwise why not; the old file is kept on failure.
[[nodiscard]] std::optional<QString> writeCentralSettings(const MqttSettings& mqtt, const QString& fileName);

// The control room's "Mais opções": its broker. OK takes and writes the settings once they are
// safe to use; any other way of closing changes nothing.
class CentralOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    CentralOptionsDialog(const CentralSettings& settings, QString fileName, const QString& state, QWidget* parent = nullptr);
    void accept() override;
    [[nodiscard]] const MqttSettings& accepted() const { return accepted_; }

private:
    QString fileName_;
    MqttSettingsBox* mqtt_;
    MqttSettings accepted_;
};
