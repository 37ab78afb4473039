// SPDX-License-Identifier: GPL-3.0-or-later
#include "central/central_mqtt_client.h"

#include "mqtt/site_protocol.h"

#include <QCoreApplication>
#include <QDateTime>

#include <mosquitto.h>

CentralMqttClient::CentralMqttClient(MqttSettings settings, PostBoard& board, Journal* journal, QObject* parent)
    // Two control rooms of one id (two copies on one machine) must not take each other's
    // connection over, as a client id may be connected once only: the process's id tells them apart.
    : MqttConnection(std::move(settings), QStringLiteral("painel-central-%1").arg(QCoreApplication::applicationPid()), Origin::Central, journal, parent),
      board_(board),
      probeTopic_(site::postTopic(QStringLiteral("sonda-") + board.clockId(), QStringLiteral("resposta"))),
      markerTopic_(site::centralTopic(this->settings().id, QStringLiteral("sonda/") + board.clockId()))
{
    for (const char* leaf : {"estado", "sinal", "info", "resposta"}) follow(site::postTopic(QStringLiteral("+"), QLatin1String(leaf)));
    follow(markerTopic_);
    // The posts tell a control room lost from one closed: the broker says "offline" only for a
    // connection lost; a close takes the state away.
    setWill(site::centralTopic(this->settings().id, QStringLiteral("estado")), site::centralLost);
    clock_.setInterval(clockTickMs);
    connect(&clock_, &QTimer::timeout, this, [this] {
        if (isConnected()) publish(site::centralTopic(this->settings().id, QStringLiteral("relogio")), board_.clockTick(), true);
    });
}

CentralMqttClient::~CentralMqttClient()
{
    // Its clock stops with it: no post takes it for a control room's any more.
    if (isConnected()) {
        publish(site::centralTopic(settings().id, QStringLiteral("relogio")), {}, true);
        publish(site::centralTopic(settings().id, QStringLiteral("estado")), {}, true);
    }
    stop();
}

bool CentralMqttClient::request(const QString& topic, const QByteArray& payload) { return isConnected() && publish(topic, payload, false); }

void CentralMqttClient::forget(const QString& id)
{
    for (const char* leaf : {"estado", "sinal", "info"}) publish(site::postTopic(id, QLatin1String(leaf)), {}, true);
    publish(site::homeAssistantTopic(id), {}, true);
}

void CentralMqttClient::connected()
{
    // The posts measure the requests' delays against this clock: ticked at once and then often.
    // Kept by the broker, so that a post that connects later knows this clock as a control
    // room's before its next tick.
    publish(site::centralTopic(settings().id, QStringLiteral("relogio")), board_.clockTick(), true);
    publish(site::centralTopic(settings().id, QStringLiteral("estado")), site::centralOnline, true);
    clock_.start();
    if (settings().user.isEmpty()) return setOpenBroker(true);
    probeCame_ = false;
    publish(probeTopic_, "sonda", false);
    publish(markerTopic_, "sonda", false);
}

void CentralMqttClient::setOpenBroker(bool open)
{
    if (std::exchange(openBroker_, open) != open && open)
        journal(QStringLiteral("broker aberto"), QStringLiteral("qualquer cliente pode imitar um posto"),
                settings().user.isEmpty() ? QStringLiteral("ligado sem nome de utilizador")
                                          : QStringLiteral("o broker deixou %1 publicar por um posto").arg(settings().user),
                true);
    emit brokerChecked(open);
}

void CentralMqttClient::messageArrived(const mosquitto_message& message, const Reply& /*reply*/)
{
    const qint64 receivedMs = site::steadyMs();
    // The control room's own check of the broker, which is nobody's news.
    const QByteArray topic(message.topic);
    if (topic == probeTopic_.toUtf8()) {
        probeCame_ = true;
        return;
    }
    if (topic == markerTopic_.toUtf8()) {
        QMetaObject::invokeMethod(
            this, [this, open = probeCame_.load()] { setOpenBroker(open); }, Qt::QueuedConnection);
        return;
    }
    // An empty payload clears a kept message (as "Remover postos ausentes…" does): no news, and
    // nothing wrong.
    if (message.payloadlen == 0) return;
    // Read here, off the window's thread: a flood of what is no post's message never reaches it.
    const QByteArray payload =
        message.payloadlen <= PostBoard::maxPayloadBytes ? QByteArray(static_cast<const char*>(message.payload), message.payloadlen) : QByteArray();
    std::optional<PostBoard::Message> read = PostBoard::parse(topic, payload, message.retain, receivedMs);
    if (!read) {
        ++dropped_;
    } else {
        const std::lock_guard lock(mutex_);
        if (queued_.size() < maxQueued) queued_.push_back(std::move(*read));
        else ++dropped_;
    }
    // One event a batch: what comes while it waits joins it.
    if (!wakened_.exchange(true)) QMetaObject::invokeMethod(this, &CentralMqttClient::deliver, Qt::QueuedConnection);
}

void CentralMqttClient::deliver()
{
    wakened_ = false;
    std::vector<PostBoard::Message> batch;
    {
        const std::lock_guard lock(mutex_);
        batch.swap(queued_);
    }
    int refused = 0;
    for (const PostBoard::Message& m : batch)
        if (!board_.receive(m)) ++refused;
    if (refused > 0) dropped_ += refused;
    // Said in the journal at most once a minute, with how many since.
    const int total = dropped_;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (total == droppedSaid_ || now - lastDropSaidMs_ < 60'000) return;
    journal(QStringLiteral("mensagens ignoradas"),
            QStringLiteral("não são de um posto, passam de %1 bytes, não se entendem ou chegaram em enxurrada").arg(PostBoard::maxPayloadBytes),
            QStringLiteral("%1 desde o arranque").arg(total), true);
    droppedSaid_ = total;
    lastDropSaidMs_ = now;
}
