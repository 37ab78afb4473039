// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mqtt/mqtt_connection.h"
#include "panel/panel_line.h"
#include "remote/rate_limit.h"
#include "remote/request_age.h"
#include "signs/sign_table.h"

#include <QJsonObject>

#include <atomic>
#include <deque>
#include <functional>
#include <set>

// The panel on an MQTT broker, for sites with many panels: signs arrive on
// painel-sinaletico/<id>/sinal/set, as a name or a place (as on the command line) or as a
// control room's request {"sinal":"Parar","pedido":"…","origem":"central"}; the shown sign is
// published, retained, on painel-sinaletico/<id>/sinal as JSON with the request it answers and
// how its send ended; painel-sinaletico/<id>/info says what the post is, and
// painel-sinaletico/<id>/estado "online", or "offline" (the broker's last will when the program
// is gone). With home_assistant set, Home Assistant's discovery finds the post as a select.
//
// A control room also stops every post at once on painel-central/parar ("Parar" only), and ticks
// its clock on painel-central/<id>/relogio. Its requests say when they were sent on that clock:
// one that reaches the panel later than the control room waits for its answer is never carried
// out, as the control room has by then told race control that the post did not answer; it is
// answered "pedido expirado" on painel-sinaletico/<id>/resposta instead. A request's id is
// carried out once, however many ways it comes.
//
// Signs reach the UI thread as queued events, never more than a few a second. Oversized,
// malformed and unknown payloads, and floods, are rejected and journaled once a burst.
class PostMqttClient final : public MqttConnection {
    Q_OBJECT
public:
    // Chooses a sign as a click would, with the origin and the request's id (empty for a bare
    // name); returns how its send ended.
    using Chooser = std::function<SendOutcome(Sign, Origin, const QString& request)>;

    static constexpr int maxPayloadBytes = 64;  // a bare name or place
    static constexpr int maxRequestBytes = 256; // a request in JSON
    static constexpr int maxRequestIdChars = 64;
    static constexpr int signsPerSecond = 5;
    // A request is carried out only while its answer can still reach the control room in time:
    // the sign on the line (under 60 ms at 9600 baud) and the answer's way back, which the
    // request's delay above the quickest way does not count, take far less than this.
    static constexpr int answerReserveMs = 250;
    // What a control room's request waits for its answer when it does not say.
    static constexpr int defaultValidityMs = 2000;
    // The request ids carried out that are remembered.
    static constexpr std::size_t rememberedRequests = 256;

    PostMqttClient(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent = nullptr);
    ~PostMqttClient() override;

    // The shown sign, as the broker keeps it.
    struct State {
        Sign sign = Sign::Stop;
        QString mode;
        QString colour;
        SendOutcome outcome = SendOutcome::Sent;
        QString reason; // why the send failed
        Origin origin = Origin::Startup;
        QString request; // the request it answers; empty for any other choice
        Echo echo = Echo::Off;
    };
    // Published retained now, and again after every reconnection.
    void publishState(const State& state);
    // What the post is: its port and device, and how it shows signs.
    struct Info {
        QString port;
        QString device;
        QString mode;
        QString colour;
    };
    void publishInfo(const Info& info);

    [[nodiscard]] QString topic(const QString& leaf) const;

private:
    // A request as it came, with when it arrived on this post's monotonic clock.
    struct Request {
        Sign sign = Sign::Stop;
        Origin origin = Origin::Remote;
        QString id;
        std::string clock; // the control room's clock, when the request says when it was sent
        qint64 sentMs = 0;
        qint64 validityMs = defaultValidityMs;
        qint64 receivedMs = 0;
    };
    enum class Route { Set, StopAll };

    void connected() override;
    void messageArrived(const mosquitto_message& message) override;

    void rejected(const QString& reason);
    // A set message the broker kept (retained) is old: never a sign anybody chooses now.
    void ignoreRetained(const QByteArray& payload);
    void burstTick();
    void handle(const QByteArray& payload, Route route, qint64 receivedMs);
    // A control room's request: chosen, or rejected with the reason.
    void handleRequest(const QJsonObject& json, Route route, qint64 receivedMs);
    void tick(const QByteArray& payload, qint64 receivedMs);
    void choose(const Request& request);
    // Too old to be carried out: said on the answer topic and journaled.
    void expire(const Request& request, qint64 delayMs);
    void publishKept(const QString& leaf, const QByteArray& payload);

    Chooser choose_;
    RequestAges ages_;
    // The ids carried out lately, oldest first.
    std::deque<QString> carried_;
    std::set<QString> carriedIds_;
    QByteArray state_; // the last state published, sent again on every connection
    QByteArray info_;
    QByteArray lastIgnored_; // the last retained set message journaled, journaled once
    // Signs are counted by the window as they go out, however the queue bunched them: that is
    // the limit. The network thread lets through a few times as many messages, so that a flood
    // never reaches the window while the limit itself stays the window's.
    SlidingWindowLimit arriving_{4 * signsPerSecond, std::chrono::seconds(1)};
    // The control room ticks every few seconds; a flood of ticks goes no further than this.
    SlidingWindowLimit ticks_{10, std::chrono::seconds(1)};
    SlidingWindowLimit sending_{signsPerSecond, std::chrono::seconds(1)};
    // Rejections counted where they happen; the UI thread journals them once a burst.
    std::atomic<int> rejectedCount_{0};
    std::atomic<bool> burstOpen_{false};
    int burstTotal_ = 0;
    QTimer burst_;
};
