// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/more_options_dialog.h"

#include "widgets/scrolling_body.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

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

MoreOptionsDialog::MoreOptionsDialog(MoreSettings& settings, QString fileName, const QStringList& problems, const QString& mqttState, QWidget* parent)
    : QDialog(parent), settings_(settings), fileName_(std::move(fileName))
{
    setObjectName(QStringLiteral("MoreOptionsDialog"));
    setWindowTitle(QStringLiteral("Mais opções"));
    auto* outer = new QVBoxLayout(this);
    QVBoxLayout* layout = scrollingBody(*this, *outer);
    if (!problems.isEmpty()) {
        auto* problemsLabel = new QLabel(problems.join(QLatin1Char('\n')), this);
        problemsLabel->setObjectName(QStringLiteral("problems"));
        problemsLabel->setWordWrap(true);
        problemsLabel->setTextFormat(Qt::PlainText);
        layout->addWidget(problemsLabel);
    }
    // The box itself holds the limits: nothing outside them can be typed.
    const auto number = [this](const char* name, const QString& accessibleName, int low, int high, const QString& suffix, int value) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setAccessibleName(accessibleName);
        box->setRange(low, high);
        box->setSuffix(suffix);
        box->setValue(value);
        return box;
    };
    keepAlive =
        number("keepAlive", QStringLiteral("Reenviar o sinal a cada"), 0, MoreSettings::maxKeepAliveSeconds, QStringLiteral(" s"), settings_.keepAliveSeconds);
    keepAlive->setSpecialValueText(QStringLiteral("desligado"));
    retention = number("retention", QStringLiteral("Guardar o registo durante"), MoreSettings::minRetentionDays, MoreSettings::maxRetentionDays,
                       QStringLiteral(" dias"), settings_.retentionDays);
    journalSize = number("journalSize", QStringLiteral("Tamanho máximo do registo"), MoreSettings::minJournalMb, MoreSettings::maxJournalMb,
                         QStringLiteral(" MB"), settings_.journalMaxMb);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Reenviar o sinal a cada:"), keepAlive);
    form->addRow(QStringLiteral("&Guardar o registo durante:"), retention);
    form->addRow(QStringLiteral("&Tamanho máximo do registo:"), journalSize);
    layout->addLayout(form);
    auto* help = new QLabel(QStringLiteral("De 1 a %1 segundos, o sinal escolhido é enviado de novo, como um clique nele; "
                                           "0 desliga. A bandeira animada já se repete: recebe só a ordem de acender o painel. "
                                           "Os reenvios chegam alguns milissegundos depois do intervalo: para um painel que "
                                           "fica sem sinal ao fim de um tempo, escolha um intervalo abaixo desse tempo.\n"
                                           "O registo guarda de %2 a %3 dias; as entradas mais antigas apagam-se ao confirmar e em cada arranque. "
                                           "Passado o tamanho máximo, apagam-se as mais antigas primeiro.")
                                .arg(MoreSettings::maxKeepAliveSeconds)
                                .arg(MoreSettings::minRetentionDays)
                                .arg(MoreSettings::maxRetentionDays),
                            this);
    help->setWordWrap(true);
    layout->addWidget(help);

    // The broker: off while its host is empty.
    auto* mqtt = new QGroupBox(QStringLiteral("MQTT (painéis de vários postos)"), this);
    mqtt->setObjectName(QStringLiteral("mqtt"));
    auto* mqttForm = new QFormLayout(mqtt);
    const auto line = [&](QLineEdit*& edit, const char* name, const QString& label, const QString& value) {
        edit = new QLineEdit(value, mqtt);
        edit->setObjectName(QString::fromLatin1(name));
        mqttForm->addRow(label, edit);
    };
    if (!mqttState.isEmpty()) {
        auto* state = new QLabel(QStringLiteral("Agora: %1").arg(QString(mqttState).remove(QRegularExpression(QStringLiteral("^MQTT: ")))), mqtt);
        state->setObjectName(QStringLiteral("mqttState"));
        state->setWordWrap(true);
        state->setTextFormat(Qt::PlainText);
        mqttForm->addRow(state);
    }
    const MqttSettings& m = settings_.mqtt;
    line(mqttHost, "mqttHost", QStringLiteral("&Broker (vazio: desligado):"), m.host);
    mqttPort = new QSpinBox(mqtt);
    mqttPort->setObjectName(QStringLiteral("mqttPort"));
    mqttPort->setRange(1, 65535);
    mqttPort->setValue(m.port);
    mqttForm->addRow(QStringLiteral("P&orta:"), mqttPort);
    line(mqttId, "mqttId", QStringLiteral("&Identificação do painel:"), m.id);
    mqttTls = new QCheckBox(QStringLiteral("Cifrar com T&LS"), mqtt);
    mqttTls->setObjectName(QStringLiteral("mqttTls"));
    mqttTls->setChecked(m.tls);
    mqttForm->addRow(mqttTls);
    line(mqttCaFile, "mqttCaFile", QStringLiteral("&Certificado da autoridade:"), m.caFile);
    line(mqttUser, "mqttUser", QStringLiteral("&Utilizador:"), m.user);
    line(mqttPasswordFile, "mqttPasswordFile", QStringLiteral("&Ficheiro da palavra-passe:"), m.passwordFile);
    passwordProblem = problemLabel("passwordProblem", mqtt);
    mqttForm->addRow(passwordProblem);
    mqttPlain = new QCheckBox(QStringLiteral("Sem cifra: broker noutra máquina, sem TLS (qualquer um na rede lê e envia sinais)"), mqtt);
    mqttPlain->setObjectName(QStringLiteral("mqttPlain"));
    mqttPlain->setChecked(m.plain);
    mqttForm->addRow(mqttPlain);
    mqttProblem = problemLabel("mqttProblem", mqtt);
    mqttForm->addRow(mqttProblem);
    layout->addWidget(mqtt);
#ifndef PAINEL_MQTT
    // Not on this system yet: the file's values are kept as they are, neither shown nor checked.
    mqtt->hide();
#endif
    layout->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
    fitBodyToScreen(*this, 560);
}

void MoreOptionsDialog::accept()
{
    MqttSettings mqtt;
    mqtt.host = mqttHost->text().trimmed();
    mqtt.port = mqttPort->value();
    mqtt.id = mqttId->text().trimmed();
    mqtt.tls = mqttTls->isChecked();
    mqtt.caFile = mqttCaFile->text().trimmed();
    mqtt.user = mqttUser->text().trimmed();
    mqtt.passwordFile = mqttPasswordFile->text().trimmed();
    mqtt.plain = mqttPlain->isChecked();
    // Nothing changes until the settings are safe to use: the operator corrects them here, told
    // beside the fields concerned of all the program itself would refuse.
#ifdef PAINEL_MQTT
    const auto problem = mqttSettingsProblem(mqtt, SettingNames::DialogFields);
    const auto password = mqtt.enabled() && !mqtt.passwordFile.isEmpty() ? passwordFileProblem(mqtt.passwordFile) : std::nullopt;
#else
    const std::optional<QString> problem, password;
#endif
    for (const auto& [label, text] : {std::pair{mqttProblem, problem}, {passwordProblem, password}}) {
        label->setText(text ? QStringLiteral("Não serve: %1.").arg(*text) : QString());
        label->setVisible(text.has_value());
    }
    if (problem || password) {
        // Grown to the words, which would otherwise be cut under the buttons.
        fitBodyToScreen(*this, width());
        return;
    }
    // Only once every value is accepted: a refused OK, then Cancel, leaves all as it was.
    settings_.keepAliveSeconds = keepAlive->value();
    settings_.mqtt = mqtt;
    settings_.mqttRefused.clear();
    settings_.retentionDays = retention->value();
    settings_.journalMaxMb = journalSize->value();
    // The setting applies for this run even when it cannot be kept for the next one.
    if (const auto failure = writeMoreSettings(settings_, fileName_))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível gravar as opções.\n\n%1").arg(*failure));
    QDialog::accept();
}
