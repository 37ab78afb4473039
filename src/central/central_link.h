// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "central/post_board.h"
#include "mqtt/mqtt_connection.h"

#include <atomic>
#include <mutex>
#include <vector>

// The control room on the site's broker: follows every post's estado, sinal and info, and sends
// requests to their set topics. Messages are read on libmosquitto's thread (anything that is not
// exactly a post's message goes no further) and reach the board in batches: a flood costs the
// window one pass over what is queued, and past maxQueued what comes is dropped and counted.
class CentralLink final : public MqttConnection {
    Q_OBJECT
public:
    static constexpr std::size_t maxQueued = 4096;

    CentralLink(MqttSettings settings, PostBoard& board, Journal* journal, QObject* parent = nullptr);
    ~CentralLink() override;

    // A request to post `id`.
    bool request(const QString& id, const QByteArray& payload);
    // Clears what the broker keeps for post `id`, so that it is not found again.
    void forget(const QString& id);
    // Messages dropped so far, as not a post's or in a flood.
    [[nodiscard]] int dropped() const { return dropped_; }

private:
    void messageArrived(const mosquitto_message& message) override;
    void deliver();

    PostBoard& board_;
    std::mutex mutex_;
    std::vector<PostBoard::Message> queued_;
    std::atomic<bool> wakened_{false}; // a delivery is on its way to the window
    std::atomic<int> dropped_{0};
    int droppedSaid_ = 0; // as the journal last said
    qint64 lastDropSaidMs_ = 0;
};
