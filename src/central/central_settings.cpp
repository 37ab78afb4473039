// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_settings.h"

#include "serial/port_devices.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

QString centralSettingsPath() { return configFolder() + QStringLiteral("/painel-central.conf"); }

CentralSettings readCentralSettings(const QString& fileName)
{
    CentralSettings settings;
    settings.mqtt.id = machineId();
    if (!QFileInfo(fileName).isFile()) return settings;
    const QSettings file(fileName, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        settings.problems << QStringLiteral("%1 não se pode ler; valem os valores de origem.").arg(QDir::toNativeSeparators(fileName));
        return settings;
    }
    settings.mqtt = readMqttSettings(file, &settings.problems, &settings.refused);
    return settings;
}

std::optional<QString> writeCentralSettings(const MqttSettings& mqtt, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    writeMqttSettings(mqtt, file);
    file.sync();
    if (file.status() != QSettings::NoError) return QStringLiteral("não foi possível escrever %1").arg(QDir::toNativeSeparators(fileName));
    return std::nullopt;
}
