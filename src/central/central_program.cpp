// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_program.h"

CentralProgram::CentralProgram(QString settingsFile, Journal* journal)
    : settingsFile_(std::move(settingsFile)),
      journal_(journal),
      settings_(readCentralSettings(settingsFile_)),
      board(
          settings_.mqtt.id, [this](const QString& topic, const QByteArray& payload) { return link_ != nullptr && link_->request(topic, payload); }, journal),
      window(board, journal)
{
    QObject::connect(&window, &CentralWindow::optionsRequested, &window, [this] { editOptions(); });
    QObject::connect(&window, &CentralWindow::forgetRequested, &window, [this](const QStringList& ids) { forget(ids); });
}

void CentralProgram::startLink()
{
    link_.reset();
    board.setConnected(false);
    window.setOpenBroker(false);
    std::optional<QString> refused;
    if (!settings_.refused.isEmpty()) refused = settings_.refused;
    else if (!settings_.mqtt.enabled()) refused = QStringLiteral("não há broker nas opções (Opções, Mais opções…)");
    else {
        link_ = std::make_unique<CentralLink>(settings_.mqtt, board, journal_);
        QObject::connect(link_.get(), &MqttConnection::statusChanged, &window, [this](const QString& status) {
            status_ = status;
            window.setLinkStatus(status, link_ != nullptr && link_->isConnected());
        });
        QObject::connect(link_.get(), &MqttConnection::connectedChanged, &board, &PostBoard::setConnected);
        QObject::connect(link_.get(), &CentralLink::brokerChecked, &window, &CentralWindow::setOpenBroker);
        refused = link_->start();
        if (refused) link_.reset();
    }
    if (!refused) return;
    status_ = QStringLiteral("MQTT desligado: %1").arg(*refused);
    window.setLinkStatus(status_, false);
    if (journal_ != nullptr && settings_.mqtt.enabled())
        journal_->record(journalEntry(Origin::Central, QStringLiteral("MQTT"), QStringLiteral("recusado"), *refused, {}, true));
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
    if (link_ == nullptr || !link_->isConnected()) {
        window.setLinkStatus(QStringLiteral("Sem ligação ao broker: os postos ausentes ficam até haver ligação."), false);
        return;
    }
    for (const QString& id : ids) link_->forget(id);
    board.remove(ids);
}
