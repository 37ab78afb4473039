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
#include <map>
#include <mutex>
#include <optional>
#include <set>

// The panel on an MQTT broker, for sites with many panels: signs arrive on
// painel-sinaletico/<id>/sinal/set, as a name or a place (as on the command line) or as a
// request in JSON {"sinal":"Parar","pedido":"…","origem":"…"}; the state is published, retained,
// on painel-sinaletico/<id>/sinal as JSON: the sign chosen, what the panel shows, the request it
// answers and how its send ended; painel-sinaletico/<id>/info says what the post is, and
// painel-sinaletico/<id>/estado "online", or "offline" (the broker's last will when the program
// is gone). With home_assistant set, Home Assistant's discovery finds the post as a select.
//
// Every request is answered on painel-sinaletico/<id>/resposta, and on the response topic it
// names under MQTT 5: carried out with its send's outcome, or refused, expired, repeated, with
// why. The client speaks MQTT 5, so that a set message the broker keeps is known as such even
// while subscribed, and never acted on.
//
// A control room also stops every post at once on painel-central/parar ("Parar" only), and ticks
// its clock on painel-central/<id>/relogio. Its requests say when they were sent on that clock:
// one that reaches the panel later than the control room waits for its answer is never carried
// out, as the control room has by then told race control that the post did not answer; it is
// answered "pedido expirado" instead. A request's id is carried out once, however many ways it
// comes. Only a request on the clock of a control room that ticks here is the control room's.
//
// Signs reach the UI thread as queued events, never more than a few a second. Oversized,
// malformed and unknown payloads, and floods, are refused; each distinct reason of a burst is
// journaled once with its count, and refusals are answered a few a second at most.
class PostMqttClient final : public MqttConnection {
    Q_OBJECT
public:
    // How a choice's send ended, for its answer.
    struct Outcome {
        SendOutcome outcome = SendOutcome::Sent;
        QString reason;
        Echo echo = Echo::Off;
    };
    // Chooses a sign as a click would, with the origin, the request's id (empty for a bare
    // name), the sender's own label and how long it stands (0: until another); returns how its
    // send ended.
    using Chooser = std::function<Outcome(Sign, Origin, const QString& request, const QString& sender, int durationSeconds)>;

    static constexpr int maxPayloadBytes = 64;  // a bare name or place
    static constexpr int maxRequestBytes = 256; // a request in JSON
    static constexpr int maxRequestIdChars = 64;
    static constexpr int maxSenderChars = 32;
    static constexpr int maxReplyTopicChars = 200;
    static constexpr int signsPerSecond = 5;
    // Refusals answered in any second, on each of the two threads that refuse: a flood of
    // requests never becomes a flood of answers.
    static constexpr int refusalsAnsweredPerSecond = 10;
    // The distinct reasons of one burst journaled; any others are counted together.
    static constexpr std::size_t maxBurstReasons = 16;
    // A burst of refusals ends after this long without one.
    static constexpr qint64 burstQuietMs = 1000;
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

    // The state, as the broker keeps it.
    struct State {
        Sign sign = Sign::Stop;    // chosen
        std::optional<Sign> shown; // what the panel shows, when the post can tell
        QString mode;
        QString colour;
        SendOutcome outcome = SendOutcome::Sent;
        QString reason; // why the send failed
        Origin origin = Origin::Startup;
        QString request; // the request it answers; empty for any other choice
        Echo echo = Echo::Off;
        QString cause;  // why the post chose it by itself
        QDateTime ends; // when its time runs out; null when it has none
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

signals:
    // Race control can no longer reach this post: the broker is lost, or the last control room
    // known to be connected lost its connection (its last will). `cause` says which, in words.
    void raceControlLost(const QString& cause);
    // Race control is back: the broker again, with a control room connected when one was known.
    void raceControlBack();

private:
    // A request as it came, with when it arrived on this post's monotonic clock and where its
    // answer goes besides the post's own answer topic.
    struct Request {
        std::optional<Sign> sign;
        Origin origin = Origin::Remote;
        QString id;
        QString sender;    // its "origem"
        std::string clock; // the control room's clock, when the request says when it was sent
        qint64 sentMs = 0;
        qint64 validityMs = defaultValidityMs;
        qint64 receivedMs = 0;
        int durationSeconds = 0;
        Reply reply;
    };
    enum class Route { Set, StopAll };

    void connected() override;
    void messageArrived(const mosquitto_message& message, const Reply& reply) override;

    // Refused on the network thread, before the window hears of it.
    void refuseEarly(const Request& request, const QString& reason);
    // Refused on the window's thread.
    void refuse(const Request& request, const QString& reason);
    // Any thread: said on the answer topics.
    void answer(const Request& request, const QString& outcome, const QString& reason, const QString& echo = {});
    // Any thread: counted in the burst, the reason journaled the first time the burst has it.
    void noteRefusal(const QString& reason);
    void checkBurst();
    // A set message the broker kept (retained) is old: never a sign anybody chooses now.
    void ignoreRetained(const QByteArray& payload);
    void handle(const QByteArray& payload, Request request, Route route);
    // A request in JSON: chosen, or refused with the reason.
    void handleRequest(const QJsonObject& json, Request request, Route route);
    // A control room's clock ticked; `receivedMs` unless the broker kept the tick.
    void tick(const QByteArray& payload, std::optional<qint64> receivedMs);
    void choose(const Request& request);
    // Too old to be carried out: answered and journaled.
    void expire(const Request& request, qint64 delayMs);
    void publishKept(const QString& leaf, const QByteArray& payload);
    // A control room's painel-central/<id>/estado.
    void centralPresence(const QString& id, const QByteArray& payload);
    // Whether race control reaches this post now; said when it changes.
    void updateRaceControl(const QString& cause);

    Chooser choose_;
    RequestAges ages_;
    // The clocks of the control rooms that tick here: only their requests are the control room's.
    std::deque<std::string> tickingClocks_;
    // The ids carried out lately, oldest first.
    std::deque<QString> carried_;
    std::set<QString> carriedIds_;
    QByteArray state_; // the last state published, sent again on every connection
    QByteArray info_;
    QByteArray lastIgnored_; // the last retained set message journaled, journaled once
    // The control rooms seen connected this run, and those connected now as far as this post knows.
    std::set<QString> centralsKnown_;
    std::set<QString> centralsOnline_;
    bool raceControl_ = false;
    // Signs are counted by the window as they go out, however the queue bunched them: that is
    // the limit. The network thread lets through a few times as many messages, so that a flood
    // never reaches the window while the limit itself stays the window's.
    SlidingWindowLimit arriving_{4 * signsPerSecond, std::chrono::seconds(1)};
    // The control room ticks every few seconds; a flood of ticks goes no further than this.
    SlidingWindowLimit ticks_{10, std::chrono::seconds(1)};
    SlidingWindowLimit sending_{signsPerSecond, std::chrono::seconds(1)};
    SlidingWindowLimit earlyAnswers_{refusalsAnsweredPerSecond, std::chrono::seconds(1)};
    SlidingWindowLimit windowAnswers_{refusalsAnsweredPerSecond, std::chrono::seconds(1)};
    // The burst of refusals, counted by reason where they happen; the window journals it.
    std::mutex burstMutex_;
    std::map<QString, int> burstReasons_;
    std::atomic<qint64> lastRefusalMs_{0};
    std::atomic<bool> burstOpen_{false};
    QTimer burst_;
};
