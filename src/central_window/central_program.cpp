// SPDX-License-Identifier: GPL-3.0-or-later
#include "central_window/central_program.h"

CentralProgram::CentralProgram(QString settingsFile, Journal* journal)
    : settingsFile_(std::move(settingsFile)),
      journal_(journal),
      settings_(readCentralSettings(settingsFile_)),
      board(
          settings_.mqtt.id, [this](const QString& topic, const QByteArray& payload) { return client_ != nullptr && client_->request(topic, payload); },
          journal),
      window(board, journal)
{
    QObject::connect(&window, &CentralWindow::optionsRequested, &window, [this] { editOptions(); });
    QObject::connect(&window, &CentralWindow::forgetRequested, &window, [this](const QStringList& ids) { forget(ids); });
}

void CentralProgram::startLink()
{
    board.setConnected(false);
    window.setOpenBroker(false);
    std::optional<QString> refused = startMqttClient<CentralMqttClient>(client_, settings_.mqtt, settings_.refused, journal_, Origin::Central, [this] {
        auto client = std::make_unique<CentralMqttClient>(settings_.mqtt, board, journal_);
        QObject::connect(client.get(), &MqttConnection::statusChanged, &window, [this](const QString& status) {
            status_ = status;
            window.setLinkStatus(status, client_ != nullptr && client_->isConnected());
        });
        QObject::connect(client.get(), &MqttConnection::connectedChanged, &board, &PostBoard::setConnected);
        QObject::connect(client.get(), &CentralMqttClient::brokerChecked, &window, &CentralWindow::setOpenBroker);
        return client;
    });
    // A control room without a broker is nothing: said, but no fault of anybody's.
    if (!refused && client_ == nullptr) refused = QStringLiteral("não há broker nas opções (Opções, Mais opções…)");
    if (!refused) return;
    status_ = QStringLiteral("MQTT desligado: %1").arg(*refused);
    window.setLinkStatus(status_, false);
}

void CentralProgram::editOptions()
{
    CentralOptionsDialog dialog(settings_, settingsFile_, status_, &window);
    if (dialog.exec() != QDialog::Accepted) return;
    const bool changed = dialog.accepted() != settings_.mqtt || !settings_.refused.isEmpty();
    settings_ = {dialog.accepted(), {}, {}};
    if (changed) startLink();
}

void CentralProgram::forget(const QStringList& ids)
{
    // What the broker keeps goes only while it can be told: otherwise the posts come back.
    if (client_ == nullptr || !client_->isConnected()) {
        window.setLinkStatus(QStringLiteral("Sem ligação ao broker: os postos ausentes ficam até haver ligação."), false);
        return;
    }
    for (const QString& id : ids) client_->forget(id);
    board.remove(ids);
}
