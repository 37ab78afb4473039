// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/central_settings.h"

#include <QDialog>

class MqttSettingsBox;

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
