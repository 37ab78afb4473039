// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/more_settings.h"

#include <optional>

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
