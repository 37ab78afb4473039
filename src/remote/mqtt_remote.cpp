// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/mqtt_remote.h"

#include "remote/post_mqtt_client.h"
#include "serial/port_devices.h"
#include "session/panel_session.h"
#include "settings/setting_names.h"

MqttRemote::MqttRemote(PanelSession& session, QObject* parent) : QObject(parent), session_(session)
{
    // Whatever chose it, the sign shown is what the broker hears; the keep-alive's resends
    // change nothing there.
    connect(&session_.display(), &SignDisplay::signChosen, this, [this](Sign, Origin origin, SendOutcome) {
        if (origin != Origin::KeepAlive) publishState();
    });
    connect(&session_, &PanelSession::mqttSettingsChanged, this, &MqttRemote::start);
    connect(&session_, &PanelSession::preferencesChanged, this, &MqttRemote::publishInfo);
}

MqttRemote::~MqttRemote() = default;

void MqttRemote::stop() { client_.reset(); }

void MqttRemote::publishState()
{
    const auto& choice = session_.lastChoice();
    if (client_ == nullptr || !choice) return;
    const PanelSettings& settings = session_.settings();
    client_->publishState(
        {choice->sign, modeName(settings.signalMode), signColourName(settings), choice->outcome, choice->reason, choice->origin, choice->request});
}

void MqttRemote::publishInfo()
{
    if (client_ == nullptr) return;
    const PanelSettings& settings = session_.settings();
    const PortBinding binding = portBinding(settings.comPort);
    client_->publishInfo(
        {comName(settings.comPort), binding.target.isEmpty() ? binding.device : binding.target, modeName(settings.signalMode), signColourName(settings)});
}

void MqttRemote::start()
{
    client_.reset();
    session_.setMqttNote({});
    const MoreSettings& more = session_.moreSettings();
    Journal* journal = session_.journal();
    std::optional<QString> refused;
    if (!more.mqttRefused.isEmpty()) refused = more.mqttRefused;
    else if (more.mqtt.enabled()) {
        client_ = std::make_unique<PostMqttClient>(
            more.mqtt, [this](Sign kind, Origin origin, const QString& request) { return session_.chooseSign(kind, origin, request); }, journal);
        connect(client_.get(), &PostMqttClient::statusChanged, &session_, &PanelSession::setMqttNote);
        refused = client_->start();
        if (refused) client_.reset();
        // The broker hears the sign already shown, the start-up's included.
        else {
            publishInfo();
            publishState();
        }
    }
    if (!refused) return;
    if (journal != nullptr) {
        JournalEntry e;
        e.origin = Origin::Remote;
        e.action = QStringLiteral("MQTT");
        e.outcome = QStringLiteral("recusado");
        e.reason = *refused;
        e.failure = true;
        journal->record(std::move(e));
    }
    session_.setMqttNote(QStringLiteral("MQTT desligado: %1").arg(*refused));
}
