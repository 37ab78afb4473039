// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/mqtt_remote.h"

#include "mqtt/site_protocol.h"
#include "remote/post_mqtt_client.h"
#include "serial/port_devices.h"
#include "session/panel_session.h"
#include "settings/setting_names.h"

static_assert(site::maxDurationSeconds == PanelSession::maxDurationSeconds, "a request's longest time is the session's");

MqttRemote::MqttRemote(PanelSession& session, QObject* parent) : QObject(parent), session_(session)
{
    // Whatever chose it, the sign shown is what the broker hears.
    connect(&session_, &PanelSession::signChosen, this, &MqttRemote::publishState);
    connect(&session_, &PanelSession::mqttSettingsChanged, this, &MqttRemote::start);
    connect(&session_, &PanelSession::preferencesChanged, this, &MqttRemote::publishInfo);
    safeState_.setSingleShot(true);
    safeState_.setTimerType(Qt::PreciseTimer);
    connect(&safeState_, &QTimer::timeout, this, [this] {
        const int delay = session_.moreSettings().safeDelaySeconds;
        (void)session_.chooseSign(Sign::Stop, Origin::Safety, {}, {}, {0, QStringLiteral("%1 há %2 s").arg(lostCause_).arg(delay)});
    });
}

void MqttRemote::raceControlLost(const QString& cause)
{
    const bool stop = session_.moreSettings().onCentralLost == MoreSettings::OnCentralLost::Stop;
    if (Journal* journal = session_.journal())
        journal->record(journalEntry(
            Origin::Safety, QStringLiteral("central perdida"),
            stop ? QStringLiteral("Parar dentro de %1 s").arg(session_.moreSettings().safeDelaySeconds) : QStringLiteral("sinal mantido"), cause, {}, true));
    if (!stop) return;
    lostCause_ = cause;
    safeState_.start(std::chrono::seconds(session_.moreSettings().safeDelaySeconds));
}

void MqttRemote::raceControlBack()
{
    // Whatever the post did meanwhile stands: race control decides what comes next.
    const bool waiting = safeState_.isActive();
    safeState_.stop();
    if (Journal* journal = session_.journal())
        journal->record(journalEntry(Origin::Safety, QStringLiteral("central de volta"),
                                     waiting ? QStringLiteral("Parar não enviado") : QStringLiteral("nada enviado"), {}, {}, false));
}

MqttRemote::~MqttRemote() = default;

void MqttRemote::stop()
{
    safeState_.stop();
    client_.reset();
}

void MqttRemote::publishState(const PanelSession::Choice& choice)
{
    if (client_ == nullptr) return;
    const PanelSettings& settings = session_.settings();
    client_->publishState({choice.sign, choice.shown, modeName(settings.signalMode), signColourName(settings), choice.outcome, choice.reason, choice.origin,
                           choice.request, choice.echo, choice.cause, choice.endsAt});
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
            [this](Sign kind, Origin origin, const QString& request, const QString& sender, int durationSeconds) {
                const SendOutcome outcome = session_.chooseSign(kind, origin, request, sender, {durationSeconds, {}});
                const auto& choice = session_.lastChoice();
                return PostMqttClient::Outcome{outcome, choice ? choice->reason : QString(), choice ? choice->echo : Echo::Off};
            },
            session_.journal());
        connect(client.get(), &PostMqttClient::statusChanged, &session_, &PanelSession::setMqttNote);
        // A post that stops when race control is lost must notice a silent loss soon, not in 45 s.
        if (more.onCentralLost == MoreSettings::OnCentralLost::Stop) client->setKeepAlive(safeStateKeepAliveSeconds);
        connect(client.get(), &PostMqttClient::raceControlLost, this, &MqttRemote::raceControlLost);
        connect(client.get(), &PostMqttClient::raceControlBack, this, &MqttRemote::raceControlBack);
        return client;
    });
    if (refused) return session_.setMqttNote(QStringLiteral("MQTT desligado: %1").arg(*refused));
    if (client_ == nullptr) return;
    // The broker hears the sign already shown, the start-up's included.
    publishInfo();
    if (const auto& choice = session_.lastChoice()) publishState(*choice);
}
