// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_settings.h"

#include "serial/port_devices.h"
#include "settings/mqtt_settings_box.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

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

CentralOptionsDialog::CentralOptionsDialog(const CentralSettings& settings, QString fileName, const QString& state, QWidget* parent)
    : QDialog(parent),
      fileName_(std::move(fileName)),
      mqtt_(new MqttSettingsBox(settings.mqtt, MqttSettingsBox::For::ControlRoom, state, this)),
      accepted_(settings.mqtt)
{
    setObjectName(QStringLiteral("CentralOptionsDialog"));
    setWindowTitle(QStringLiteral("Mais opções"));
    auto* layout = new QVBoxLayout(this);
    if (!settings.problems.isEmpty()) {
        auto* problems = new QLabel(settings.problems.join(QLatin1Char('\n')), this);
        problems->setObjectName(QStringLiteral("problems"));
        problems->setWordWrap(true);
        problems->setTextFormat(Qt::PlainText);
        layout->addWidget(problems);
    }
    layout->addWidget(mqtt_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

void CentralOptionsDialog::accept()
{
    const std::optional<MqttSettings> mqtt = mqtt_->accepted();
    if (!mqtt) return;
    accepted_ = *mqtt;
    // The settings apply for this run even when they cannot be kept for the next one.
    if (const auto failure = writeCentralSettings(accepted_, fileName_))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível gravar as opções.\n\n%1").arg(*failure));
    QDialog::accept();
}
