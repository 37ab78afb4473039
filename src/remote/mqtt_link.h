// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "panel/panel_link.h"
#include "remote/rate_limit.h"
#include "settings/more_settings.h"
#include "signs/sign_table.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

struct mosquitto;
struct mosquitto_message;

// The panel on an MQTT broker, for sites with many panels: signs arrive on
// painel-sinaletico/<id>/sinal/set (a name or a place, as on the command line), the shown sign is
// published, retained, on painel-sinaletico/<id>/sinal as JSON, and painel-sinaletico/<id>/estado
// says "online", or "offline" (the broker's last will when the program is gone).
//
// libmosquitto runs its own network thread, which reconnects with a growing delay after the
// broker goes away; signs reach the UI thread as queued events, never more than a few a second.
// Oversized, malformed and unknown payloads, and floods, are rejected and journaled once a burst.
class MqttLink final : public QObject {
    Q_OBJECT
public:
    // Chooses a sign as a click would, origin "remoto"; returns how its send ended.
    using Chooser = std::function<SendOutcome(Sign)>;

    static constexpr int maxPayloadBytes = 64;
    static constexpr int signsPerSecond = 5;

    MqttLink(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent = nullptr);
    ~MqttLink() override;
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts the client; nullopt when it runs (connected or not yet), otherwise why it may not.
    [[nodiscard]] std::optional<QString> start();
    // The shown sign, published retained now and again after every reconnection.
    void publishState(Sign kind, const QString& mode, const QString& colour, SendOutcome outcome);

    [[nodiscard]] QString topic(const QString& leaf) const;
    [[nodiscard]] bool isConnected() const { return connected_; }
    // Where the client connects: without TLS, the loopback address the host was checked to be.
    [[nodiscard]] const QString& connectHost() const { return connectHost_; }

signals:
    // "MQTT: ligado a host:port como id", or why not, for the status bar's tooltip.
    void statusChanged(const QString& status);

private:
    static void onConnect(mosquitto* client, void* self, int code);
    static void onDisconnect(mosquitto* client, void* self, int code);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    // libmosquitto's thread gave up for good (it does on a failed TLS handshake, with no
    // callback): it is started again after the next delay.
    void loopEnded();
    // The broker cannot be reached or kept: `cause` in the operator's words, `words` the library's.
    // Each distinct cause is journaled once, until a connection succeeds.
    void cannotConnect(const QString& cause, const QString& words, int retryS = 0);
    void tlsFailed(const QString& words);
    // The status for the last failure, the next try `retryS` seconds away (0: the library's own).
    void showFailure(int retryS);
    [[nodiscard]] QString where() const;

    // Connects, or tries again later with a growing delay until a connection is under way; then
    // libmosquitto's own thread reconnects, unless it gives up.
    void connectToBroker();
    void rejected(const QString& reason);
    // A set message the broker kept (retained) is old: never a sign anybody chooses now.
    void ignoreRetained(const QByteArray& payload);
    void burstTick();
    void handle(const QByteArray& payload);
    void connected();
    void journal(const QString& outcome, const QString& reason, const QString& detail, bool failure);
    void setStatus(const QString& status);

    MqttSettings settings_;
    Chooser choose_;
    Journal* journal_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    QString status_;
    QByteArray state_; // the last state published, sent again on every connection

    std::thread::id windowThread_ = std::this_thread::get_id();
    QString connectHost_;       // the address that was checked, or the host itself with TLS
    bool looping_ = false;      // libmosquitto's thread was started and not yet joined
    bool loopEnded_ = false;    // and has ended by itself
    QString lastCause_;         // the last failure journaled
    int failedAttempts_ = 0;    // since the last connection
    QString statusCause_;       // the last failure's cause, as the status says it
    bool hostMismatch_ = false; // this attempt's TLS failure was the certificate's name
    int retryDelayS_ = 0;       // before the first connection: the delay of the next try
    QTimer retry_;
    QByteArray lastIgnored_; // the last retained set message journaled, journaled once
    // Signs are counted by the window as they go out, however the queue bunched them: that is
    // the limit. The network thread lets through a few times as many messages, so that a flood
    // never reaches the window while the limit itself stays the window's.
    SlidingWindowLimit arriving_{4 * signsPerSecond, std::chrono::seconds(1)};
    SlidingWindowLimit sending_{signsPerSecond, std::chrono::seconds(1)};
    // Rejections counted where they happen; the UI thread journals them once a burst.
    std::atomic<int> rejectedCount_{0};
    std::atomic<bool> burstOpen_{false};
    int burstTotal_ = 0;
    QTimer burst_;
};
