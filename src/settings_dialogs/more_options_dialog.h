// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/more_settings.h"

#include <QDialog>

class MqttSettingsBox;
class QComboBox;
class QSpinBox;

// "Mais opções": the settings of painel-sinaletico.conf. OK applies and writes them; any other
// way of closing changes nothing. Problems met reading the file are shown at the top; how the
// broker stands now, in the MQTT group.
class MoreOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    MoreOptionsDialog(MoreSettings& settings, QString fileName, const QStringList& problems, const QString& mqttState = {}, QWidget* parent = nullptr);

    void accept() override;

private:
    MoreSettings& settings_;
    QString fileName_;
    QSpinBox* keepAlive = nullptr;
    QSpinBox* retention = nullptr;
    QSpinBox* journalSize = nullptr;
    // When race control is lost, and what a sign with a time gives way to.
    QComboBox* onCentralLost = nullptr;
    QSpinBox* safeDelay = nullptr;
    QComboBox* baseSign = nullptr;
    MqttSettingsBox* mqtt_ = nullptr;
};
