// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialogs/more_options_dialog.h"

#include "signs/sign_names.h"

#include "settings_dialogs/mqtt_settings_box.h"
#include "widgets/scrolling_body.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

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
    mqtt_ = new MqttSettingsBox(settings_.mqtt, MqttSettingsBox::For::Post, mqttState, this);
    layout->addWidget(mqtt_);

    auto* safety = new QGroupBox(QStringLiteral("Segurança"), this);
    safety->setObjectName(QStringLiteral("safety"));
    onCentralLost = new QComboBox(safety);
    onCentralLost->setObjectName(QStringLiteral("onCentralLost"));
    onCentralLost->setAccessibleName(QStringLiteral("Ao perder a central"));
    onCentralLost->addItems({QStringLiteral("manter o sinal"), QStringLiteral("enviar Parar")});
    onCentralLost->setCurrentIndex(settings_.onCentralLost == MoreSettings::OnCentralLost::Stop ? 1 : 0);
    safeDelay = number("safeDelay", QStringLiteral("Parar ao fim de"), MoreSettings::minSafeDelaySeconds, MoreSettings::maxSafeDelaySeconds,
                       QStringLiteral(" s"), settings_.safeDelaySeconds);
    safeDelay->setParent(safety);
    baseSign = new QComboBox(safety);
    baseSign->setObjectName(QStringLiteral("baseSign"));
    baseSign->setAccessibleName(QStringLiteral("Sinal no fim de uma duração"));
    for (const Sign sign : signsInScreenOrder) baseSign->addItem(signCaption(sign), signIndex(sign));
    baseSign->setCurrentIndex(baseSign->findData(signIndex(settings_.baseSign)));
    auto* safetyForm = new QFormLayout(safety);
    safetyForm->addRow(QStringLiteral("Ao perder a c&entral:"), onCentralLost);
    safetyForm->addRow(QStringLiteral("&Parar ao fim de:"), safeDelay);
    safetyForm->addRow(QStringLiteral("&Sinal no fim de uma duração:"), baseSign);
    auto* safetyHelp = new QLabel(QStringLiteral("A central perde-se quando o broker deixa de responder, ou quando a central perde a "
                                                 "ligação; fechada de propósito, não. Ao voltar a ligação, nada se envia por si. "
                                                 "Um sinal pedido com duração dá lugar ao sinal do fim quando ela acaba."),
                                  safety);
    safetyHelp->setWordWrap(true);
    safetyForm->addRow(safetyHelp);
    safeDelay->setEnabled(onCentralLost->currentIndex() == 1);
    connect(onCentralLost, &QComboBox::currentIndexChanged, safeDelay, [this](int index) { safeDelay->setEnabled(index == 1); });
    layout->addWidget(safety);
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
    // Nothing changes until the settings are safe to use: the operator corrects them here, told
    // beside the fields concerned of all the program itself would refuse.
    const std::optional<MqttSettings> mqtt = mqtt_->accepted();
    if (!mqtt) {
        // Grown to the words, which would otherwise be cut under the buttons.
        fitBodyToScreen(*this, width());
        return;
    }
    // Only once every value is accepted: a refused OK, then Cancel, leaves all as it was.
    settings_.keepAliveSeconds = keepAlive->value();
    settings_.mqtt = *mqtt;
    settings_.mqttRefused.clear();
    settings_.retentionDays = retention->value();
    settings_.journalMaxMb = journalSize->value();
    settings_.onCentralLost = onCentralLost->currentIndex() == 1 ? MoreSettings::OnCentralLost::Stop : MoreSettings::OnCentralLost::Keep;
    settings_.safeDelaySeconds = safeDelay->value();
    settings_.baseSign = static_cast<Sign>(baseSign->currentData().toInt());
    // The setting applies for this run even when it cannot be kept for the next one.
    if (const auto failure = writeMoreSettings(settings_, fileName_))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Não foi possível gravar as opções.\n\n%1").arg(*failure));
    QDialog::accept();
}
