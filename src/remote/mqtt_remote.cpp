// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/mqtt_remote.h"

#include "remote/post_mqtt_client.h"
#include "serial/port_devices.h"
#include "session/panel_session.h"
#include "settings/setting_names.h"

MqttRemote::MqttRemote(PanelSession& session, QObject* parent) : QObject(parent), session_(session)
{
    // Whatever chose it, the sign shown is what the broker hears.
    connect(&session_, &PanelSession::signChosen, this, &MqttRemote::publishState);
    connect(&session_, &PanelSession::mqttSettingsChanged, this, &MqttRemote::start);
    connect(&session_, &PanelSession::preferencesChanged, this, &MqttRemote::publishInfo);
}

MqttRemote::~MqttRemote() = default;

void MqttRemote::stop() { client_.reset(); }

void MqttRemote::publishState(const PanelSession::Choice& choice)
{
    if (client_ == nullptr) return;
    const PanelSettings& settings = session_.settings();
    client_->publishState({choice.sign, choice.shown, modeName(settings.signalMode), signColourName(settings), choice.outcome, choice.reason, choice.origin,
                           choice.request, choice.echo});
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
    session_.setMqttNote({});
    const MoreSettings& more = session_.moreSettings();
    const auto refused = startMqttClient<PostMqttClient>(client_, more.mqtt, more.mqttRefused, session_.journal(), Origin::Remote, [&] {
        auto client = std::make_unique<PostMqttClient>(
            more.mqtt,
            [this](Sign kind, Origin origin, const QString& request, const QString& sender) {
                const SendOutcome outcome = session_.chooseSign(kind, origin, request, sender);
                const auto& choice = session_.lastChoice();
                return PostMqttClient::Outcome{outcome, choice ? choice->reason : QString(), choice ? choice->echo : Echo::Off};
            },
            session_.journal());
        connect(client.get(), &PostMqttClient::statusChanged, &session_, &PanelSession::setMqttNote);
        return client;
    });
    if (refused) return session_.setMqttNote(QStringLiteral("MQTT desligado: %1").arg(*refused));
    if (client_ == nullptr) return;
    // The broker hears the sign already shown, the start-up's included.
    publishInfo();
    if (const auto& choice = session_.lastChoice()) publishState(*choice);
}
