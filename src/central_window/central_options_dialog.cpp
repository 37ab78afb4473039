// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/central_options_dialog.h"

#include "settings_dialogs/mqtt_settings_box.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

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
