// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/post_board.h"
#include "mqtt/mqtt_connection.h"

#include <atomic>
#include <mutex>
#include <vector>

// The control room on the site's broker: follows every post's estado, sinal, info and resposta,
// sends requests, and ticks the control room's clock every few seconds for the posts to measure
// how late a request reaches them. Messages are read on libmosquitto's thread (anything that is
// not exactly a post's message goes no further) and reach the board in batches: a flood costs the
// window one pass over what is queued, and past maxQueued what comes is dropped and counted.
//
// Once connected it finds out whether the broker lets anybody speak for a post: connected without
// a user name, it does (the broker took an anonymous client); otherwise the control room publishes
// on a post's own answer topic, which no ACL grants it, and then on its own: if the first comes
// back before the second, the broker let it through, and would let anybody.
class CentralMqttClient final : public MqttConnection {
    Q_OBJECT
public:
    static constexpr std::size_t maxQueued = 4096;
    static constexpr int clockTickMs = 5000;

    CentralMqttClient(MqttSettings settings, PostBoard& board, Journal* journal, QObject* parent = nullptr);
    ~CentralMqttClient() override;

    // A request, on `topic`.
    bool request(const QString& topic, const QByteArray& payload);
    // Clears what the broker keeps for post `id`, so that it is not found again.
    void forget(const QString& id);
    // Messages dropped so far, as not a post's or in a flood.
    [[nodiscard]] int dropped() const { return dropped_; }
    // Whether anybody may speak for a post on this broker, as far as the last connection found.
    [[nodiscard]] bool openBroker() const { return openBroker_; }

signals:
    // After every connection, once it is known whether anybody may speak for a post.
    void brokerChecked(bool open);

private:
    void connected() override;
    void messageArrived(const mosquitto_message& message, const Reply& reply) override;
    void deliver();
    void setOpenBroker(bool open);

    PostBoard& board_;
    std::mutex mutex_;
    std::vector<PostBoard::Message> queued_;
    std::atomic<bool> wakened_{false}; // a delivery is on its way to the window
    std::atomic<int> dropped_{0};
    int droppedSaid_ = 0; // as the journal last said
    qint64 lastDropSaidMs_ = 0;
    QTimer clock_;
    QString probeTopic_;  // a post's answer topic, of a post that is not
    QString markerTopic_; // the control room's own, after it
    std::atomic<bool> probeCame_{false};
    bool openBroker_ = false;
};
