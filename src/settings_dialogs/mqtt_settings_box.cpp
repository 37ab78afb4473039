// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialogs/mqtt_settings_box.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>

namespace {

// A refusal's words, in red, shown only while there is one.
QLabel* problemLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: #b00000"));
    label->hide();
    return label;
}

} // namespace

MqttSettingsBox::MqttSettingsBox(const MqttSettings& settings, For who, const QString& state, QWidget* parent)
    : QGroupBox(who == For::Post ? QStringLiteral("MQTT (painéis de vários postos)") : QStringLiteral("MQTT (o broker dos postos)"), parent), kept_(settings)
{
    setObjectName(QStringLiteral("mqtt"));
    auto* form = new QFormLayout(this);
    const auto line = [&](QLineEdit*& edit, const char* name, const QString& label, const QString& value) {
        edit = new QLineEdit(value, this);
        edit->setObjectName(QString::fromLatin1(name));
        form->addRow(label, edit);
    };
    const auto check = [&](QCheckBox*& box, const char* name, const QString& label, bool value) {
        box = new QCheckBox(label, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setChecked(value);
        form->addRow(box);
    };
    if (!state.isEmpty()) {
        auto* now = new QLabel(QStringLiteral("Agora: %1").arg(QString(state).remove(QRegularExpression(QStringLiteral("^MQTT: ")))), this);
        now->setObjectName(QStringLiteral("mqttState"));
        now->setWordWrap(true);
        now->setTextFormat(Qt::PlainText);
        form->addRow(now);
    }
    line(host_, "mqttHost", QStringLiteral("&Broker (vazio: desligado):"), settings.host);
    host_->setToolTip(QStringLiteral("Um broker, ou vários separados por vírgulas, tentados por ordem: broker-a.site,broker-b.site:8884"));
    port_ = new QSpinBox(this);
    port_->setObjectName(QStringLiteral("mqttPort"));
    port_->setRange(1, 65535);
    port_->setValue(settings.port);
    form->addRow(QStringLiteral("P&orta:"), port_);
    line(id_, "mqttId", who == For::Post ? QStringLiteral("&Identificação do painel:") : QStringLiteral("&Identificação da central:"), settings.id);
    if (who == For::Post) {
        line(name_, "mqttName", QStringLiteral("&Nome na central (vazio: a identificação):"), settings.name);
        name_->setMaxLength(MqttSettings::maxNameChars);
        line(group_, "mqttGroup", QStringLiteral("Grupo na central (vazio: nenhum):"), settings.group);
        group_->setMaxLength(MqttSettings::maxNameChars);
    }
    check(tls_, "mqttTls", QStringLiteral("Cifrar com T&LS"), settings.tls);
    line(caFile_, "mqttCaFile", QStringLiteral("&Certificado da autoridade:"), settings.caFile);
    line(user_, "mqttUser", QStringLiteral("&Utilizador:"), settings.user);
    line(passwordFile_, "mqttPasswordFile", QStringLiteral("&Ficheiro da palavra-passe:"), settings.passwordFile);
    passwordProblem_ = problemLabel("passwordProblem", this);
    form->addRow(passwordProblem_);
    check(plain_, "mqttPlain", QStringLiteral("Sem cifra: broker noutra máquina, sem TLS (qualquer um na rede lê e envia sinais)"), settings.plain);
    if (who == For::Post) check(homeAssistant_, "mqttHomeAssistant", QStringLiteral("Anunciar ao Home &Assistant (descoberta MQTT)"), settings.homeAssistant);
    problem_ = problemLabel("mqttProblem", this);
    form->addRow(problem_);
}

MqttSettings MqttSettingsBox::fields() const
{
    MqttSettings mqtt = kept_;
    mqtt.host = host_->text().trimmed();
    mqtt.port = port_->value();
    mqtt.id = id_->text().trimmed();
    mqtt.tls = tls_->isChecked();
    mqtt.caFile = caFile_->text().trimmed();
    mqtt.user = user_->text().trimmed();
    mqtt.passwordFile = passwordFile_->text().trimmed();
    mqtt.plain = plain_->isChecked();
    if (name_ != nullptr) mqtt.name = name_->text().trimmed();
    if (group_ != nullptr) mqtt.group = group_->text().trimmed();
    if (homeAssistant_ != nullptr) mqtt.homeAssistant = homeAssistant_->isChecked();
    return mqtt;
}

std::optional<MqttSettings> MqttSettingsBox::accepted()
{
    const MqttSettings mqtt = fields();
    const auto problem = mqttSettingsProblem(mqtt, SettingNames::DialogFields);
    const auto password = mqtt.enabled() && !mqtt.passwordFile.isEmpty() ? passwordFileProblem(mqtt.passwordFile) : std::nullopt;
    for (const auto& [label, text] : {std::pair{problem_, problem}, {passwordProblem_, password}}) {
        label->setText(text ? QStringLiteral("Não serve: %1.").arg(*text) : QString());
        label->setVisible(text.has_value());
    }
    if (problem || password) return std::nullopt;
    return mqtt;
}
