// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/post_mqtt_client.h"

#include "mqtt/site_protocol.h"
#include "painel_version.h"
#include "signs/sign_names.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QStringDecoder>

#include <mosquitto.h>

#include <algorithm>
#include <cmath>

namespace {

QString tooManyText() { return QStringLiteral("mais de %1 mensagens por segundo").arg(PostMqttClient::signsPerSecond); }
QString retainedText() { return QStringLiteral("guardada pelo broker (retain): um pedido antigo não escolhe o sinal de agora"); }

// One line of printable text of up to `chars` characters.
bool isShortLine(const QString& text, qsizetype chars)
{
    return text.size() <= chars && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

// A request's id as the rules take it: text of up to 64 printable characters, or a whole number,
// taken as its digits.
std::optional<QString> requestId(const QJsonValue& value)
{
    if (value.isUndefined()) return QString();
    if (value.isString() && isShortLine(value.toString(), PostMqttClient::maxRequestIdChars)) return value.toString();
    if (const auto number = site::wholeMs(value)) return QString::number(*number);
    return std::nullopt;
}

// A sign as JSON may name it: as text, by the rules of every way in, or by its place as a number.
std::optional<Sign> signOf(const QJsonValue& value)
{
    if (value.isString()) return signFromName(value.toString());
    const std::optional<qint64> place = site::wholeMs(value);
    return place ? signAtPlace(static_cast<int>(std::clamp<qint64>(*place, 0, 6))) : std::nullopt;
}

// The id of a request refused before it was read, when its payload says it plainly.
QString idOf(const QByteArray& payload)
{
    if (!payload.startsWith('{') || payload.size() > PostMqttClient::maxRequestBytes) return {};
    return requestId(QJsonDocument::fromJson(payload).object().value(QStringLiteral("pedido"))).value_or(QString());
}

// An answer goes to the topic a request names only outside the site's own trees: nobody can
// make a post speak on another post's topics, or the control room's.
bool replyTopicAllowed(const QString& topic)
{
    static const QStringList site{site::postRoot + QLatin1Char('/'), site::centralRoot + QLatin1Char('/'), QStringLiteral("homeassistant/"),
                                  QStringLiteral("$")};
    return !topic.isEmpty() && topic.size() <= PostMqttClient::maxReplyTopicChars && !topic.contains(QLatin1Char('+')) && !topic.contains(QLatin1Char('#'))
           && std::none_of(site.begin(), site.end(), [&](const QString& root) { return topic.startsWith(root); });
}

} // namespace

PostMqttClient::PostMqttClient(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent)
    : MqttConnection(std::move(settings), QStringLiteral("painel-sinaletico"), Origin::Remote, journal, parent), choose_(std::move(choose))
{
    burst_.setInterval(100);
    connect(&burst_, &QTimer::timeout, this, &PostMqttClient::checkBurst);
    setWill(topic(QStringLiteral("estado")), "offline");
    useMqtt5();
    follow(topic(QStringLiteral("sinal/set")), true);
    follow(site::stopAllTopic(), true);
    follow(site::centralTopic(QStringLiteral("+"), QStringLiteral("relogio")));
    follow(site::centralTopic(QStringLiteral("+"), QStringLiteral("estado")));
    connect(this, &MqttConnection::connectedChanged, this, [this](bool connected) {
        // Whoever was connected before is not known to be now: each says so again, retained.
        if (!connected) centralsOnline_.clear();
        updateRaceControl(QStringLiteral("sem ligação ao broker %1").arg(this->settings().host));
    });
}

void PostMqttClient::centralPresence(const QString& id, const QByteArray& payload)
{
    if (payload == site::centralOnline) {
        centralsKnown_.insert(id);
        centralsOnline_.insert(id);
    } else if (payload == site::centralLost || payload.isEmpty()) {
        // An "offline" the broker kept from before this post knew the control room says nothing of
        // now; one closed on purpose (its state taken away) was not lost.
        if (centralsOnline_.erase(id) == 0) return;
        if (payload.isEmpty()) centralsKnown_.erase(id);
    } else {
        return;
    }
    updateRaceControl(QStringLiteral("a central %1 perdeu a ligação ao broker").arg(id));
}

void PostMqttClient::updateRaceControl(const QString& cause)
{
    const bool reached = isConnected() && (centralsKnown_.empty() || !centralsOnline_.empty());
    if (reached == std::exchange(raceControl_, reached)) return;
    if (reached) emit raceControlBack();
    else emit raceControlLost(cause);
}

PostMqttClient::~PostMqttClient()
{
    // Gone on purpose: say so, as the will would only be sent for a lost connection.
    if (isConnected()) publish(topic(QStringLiteral("estado")), "offline", true);
    stop();
}

QString PostMqttClient::topic(const QString& leaf) const { return site::postTopic(settings().id, leaf); }

void PostMqttClient::publishKept(const QString& leaf, const QByteArray& payload)
{
    if (isConnected()) publish(topic(leaf), payload, true);
}

void PostMqttClient::publishState(const State& state)
{
    state_ = site::toJson(site::State{.sign = state.sign,
                                      .shown = state.shown,
                                      .mode = state.mode,
                                      .colour = state.colour,
                                      .when = QDateTime::currentDateTimeUtc(),
                                      .outcome = outcomeText(state.outcome),
                                      .reason = state.reason,
                                      .origin = originText(state.origin),
                                      .request = state.request,
                                      .echo = QString::fromStdString(echoWord(state.echo)),
                                      .cause = state.cause,
                                      .ends = state.ends});
    publishKept(QStringLiteral("sinal"), state_);
}

void PostMqttClient::publishInfo(const Info& info)
{
    info_ =
        site::toJson(site::Info{settings().displayName(), settings().group, QStringLiteral(PAINEL_VERSION), info.port, info.device, info.mode, info.colour});
    publishKept(QStringLiteral("info"), info_);
}

void PostMqttClient::connected()
{
    publish(topic(QStringLiteral("estado")), "online", true);
    for (const auto& [leaf, payload] : {std::pair{QStringLiteral("info"), &info_}, {QStringLiteral("sinal"), &state_}})
        if (!payload->isEmpty()) publish(topic(leaf), *payload, true);
    if (settings().homeAssistant) publish(site::homeAssistantTopic(settings().id), site::homeAssistantConfig(settings()), true);
}

void PostMqttClient::messageArrived(const mosquitto_message& message, const Reply& reply)
{
    const qint64 receivedMs = site::steadyMs();
    const QString where = QString::fromUtf8(message.topic);
    const bool set = where == topic(QStringLiteral("sinal/set"));
    const Route route = set ? Route::Set : Route::StopAll;
    const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
    static const QString centralPrefix = site::centralRoot + QLatin1Char('/');
    if (where.startsWith(centralPrefix) && where.endsWith(QStringLiteral("/estado"))) {
        const QString id = where.mid(centralPrefix.size()).chopped(7);
        if (message.payloadlen > 16 || id.isEmpty() || id.contains(QLatin1Char('/')) || !ticks_.admit()) return;
        QMetaObject::invokeMethod(
            this, [this, id, payload] { centralPresence(id, payload); }, Qt::QueuedConnection);
        return;
    }
    if (!set && where != site::stopAllTopic()) {
        // The control room's clock: small, and only ever a few a second. One the broker kept says
        // which clock is a control room's, but nothing of how long messages take.
        if (message.payloadlen > maxRequestBytes || !ticks_.admit()) return;
        QMetaObject::invokeMethod(
            this, [this, payload, receivedMs, kept = message.retain] { tick(payload, kept ? std::optional<qint64>() : receivedMs); }, Qt::QueuedConnection);
        return;
    }
    Request request;
    request.receivedMs = receivedMs;
    request.reply = reply;
    if (message.retain) {
        request.id = idOf(payload);
        refuseEarly(request, retainedText());
        QMetaObject::invokeMethod(
            this, [this, kept = payload.left(maxPayloadBytes)] { ignoreRetained(kept); }, Qt::QueuedConnection);
        return;
    }
    // A bare name is short; only a request in JSON may be longer.
    const int limit = payload.startsWith('{') ? maxRequestBytes : maxPayloadBytes;
    if (message.payloadlen > limit) return refuseEarly(request, QStringLiteral("mensagem de %1 bytes, acima de %2").arg(message.payloadlen).arg(limit));
    if (!arriving_.admit()) {
        request.id = idOf(payload);
        return refuseEarly(request, tooManyText());
    }
    QMetaObject::invokeMethod(
        this, [this, payload, request, route] { handle(payload, request, route); }, Qt::QueuedConnection);
}

void PostMqttClient::ignoreRetained(const QByteArray& payload)
{
    // The broker hands the same one over at every connection: journaled the first time only.
    if (payload == std::exchange(lastIgnored_, payload)) return;
    journal(QStringLiteral("mensagem retida ignorada"), retainedText(), QString::fromUtf8(payload), true);
}

void PostMqttClient::answer(const Request& request, const QString& outcome, const QString& reason, const QString& echo)
{
    if (!isConnected()) return;
    const QByteArray payload = site::toJson(site::Answer{.request = request.id,
                                                         .sign = request.sign,
                                                         .outcome = outcome,
                                                         .reason = reason,
                                                         .when = QDateTime::currentDateTimeUtc(),
                                                         .echo = echo,
                                                         .sender = request.sender});
    publish(topic(QStringLiteral("resposta")), payload, false);
    if (replyTopicAllowed(request.reply.topic)) publish(request.reply.topic, payload, false, request.reply.correlation);
}

void PostMqttClient::refuseEarly(const Request& request, const QString& reason)
{
    noteRefusal(reason);
    if (earlyAnswers_.admit()) answer(request, site::refusedText, reason);
}

void PostMqttClient::refuse(const Request& request, const QString& reason)
{
    noteRefusal(reason);
    if (windowAnswers_.admit()) answer(request, site::refusedText, reason);
}

void PostMqttClient::noteRefusal(const QString& reason)
{
    lastRefusalMs_ = site::steadyMs();
    bool first = false;
    {
        const std::lock_guard lock(burstMutex_);
        const QString key = burstReasons_.count(reason) != 0 || burstReasons_.size() < maxBurstReasons ? reason : QStringLiteral("outras razões");
        first = ++burstReasons_[key] == 1;
    }
    const bool opened = !burstOpen_.exchange(true);
    // Each reason reaches the window once a burst, however long the flood: the window journals it
    // at once, and its count once the burst is over.
    if (!first && !opened) return;
    QMetaObject::invokeMethod(
        this,
        [this, reason, first, opened] {
            if (first) journal(QStringLiteral("mensagem rejeitada"), reason, {}, true);
            if (opened) burst_.start();
        },
        Qt::QueuedConnection);
}

void PostMqttClient::checkBurst()
{
    if (site::steadyMs() - lastRefusalMs_ < burstQuietMs) return;
    std::map<QString, int> reasons;
    {
        const std::lock_guard lock(burstMutex_);
        reasons.swap(burstReasons_);
        burstOpen_ = false;
    }
    burst_.stop();
    for (const auto& [reason, count] : reasons)
        if (count > 1) journal(QStringLiteral("mensagens rejeitadas"), reason, QStringLiteral("%1 numa rajada").arg(count), true);
}

void PostMqttClient::handle(const QByteArray& payload, Request request, Route route)
{
    if (payload.startsWith('{')) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) return refuse(request, QStringLiteral("o pedido não é um objeto JSON"));
        return handleRequest(document.object(), request, route);
    }
    if (route == Route::StopAll) return refuse(request, QStringLiteral("o pedido para todos não é um objeto JSON"));
    // A byte-order mark is kept as a character, so that "\uFEFFParar" is no sign: only names and
    // places are.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString name = utf8(payload);
    if (utf8.hasError()) return refuse(request, QStringLiteral("a mensagem não é UTF-8"));
    request.sign = signFromName(name);
    if (!request.sign) return refuse(request, notASignText(name));
    choose(request);
}

void PostMqttClient::handleRequest(const QJsonObject& json, Request request, Route route)
{
    // The id first, so that even a refusal answers the request it refuses.
    const std::optional<QString> id = requestId(json.value(QStringLiteral("pedido")));
    if (!id) return refuse(request, QStringLiteral("o \"pedido\" não é um texto de até %1 caracteres nem um número inteiro").arg(maxRequestIdChars));
    request.id = *id;
    const QJsonValue sender = json.value(QStringLiteral("origem"));
    if (!sender.isUndefined() && (!sender.isString() || sender.toString().isEmpty() || !isShortLine(sender.toString(), maxSenderChars)))
        return refuse(request, QStringLiteral("a \"origem\" não é um texto de 1 a %1 caracteres").arg(maxSenderChars));
    request.sender = sender.toString();
    const QJsonValue sign = json.value(QStringLiteral("sinal"));
    if (sign.isUndefined()) return refuse(request, QStringLiteral("o pedido não diz o sinal (\"sinal\")"));
    request.sign = signOf(sign);
    if (!request.sign)
        return refuse(request, sign.isString() ? notASignText(sign.toString()) : QStringLiteral("o \"sinal\" não é um nome nem um lugar de 1 a 5"));
    // Everybody's topic stops, and nothing else: no other sign is right for every post at once.
    if (route == Route::StopAll && *request.sign != Sign::Stop) return refuse(request, QStringLiteral("para todos os postos só se pede \"Parar\""));
    // When it was sent, on the control room's clock: both or neither, and the wait if it says.
    const QJsonValue clock = json.value(QStringLiteral("relogio"));
    const QJsonValue sent = json.value(QStringLiteral("emitido"));
    const QJsonValue validity = json.value(QStringLiteral("validade_ms"));
    if (clock.isUndefined() != sent.isUndefined()) return refuse(request, QStringLiteral("o pedido diz \"relogio\" e \"emitido\", ou nenhum"));
    if (!clock.isUndefined()) {
        const std::optional<qint64> sentMs = site::wholeMs(sent);
        if (!clock.isString() || clock.toString().isEmpty() || !isShortLine(clock.toString(), maxRequestIdChars) || !sentMs)
            return refuse(request, QStringLiteral("o \"relogio\" ou o \"emitido\" do pedido não se entendem"));
        request.clock = clock.toString().toStdString();
        request.sentMs = *sentMs;
    }
    if (!validity.isUndefined()) {
        const std::optional<qint64> ms = site::wholeMs(validity);
        if (!ms || *ms < answerReserveMs || *ms > 3'600'000)
            return refuse(request, QStringLiteral("a \"validade_ms\" do pedido não é de %1 a 3600000").arg(answerReserveMs));
        request.validityMs = *ms;
    }
    // The control room's mark is its own: "central" on the clock of a control room that ticks
    // here. Anything else is one more program's label.
    const bool central =
        request.sender == QLatin1String("central") && std::find(tickingClocks_.begin(), tickingClocks_.end(), request.clock) != tickingClocks_.end();
    request.origin = central ? Origin::Central : Origin::Remote;
    const QJsonValue duration = json.value(QStringLiteral("duracao_s"));
    if (!duration.isUndefined()) {
        const double seconds = duration.toDouble();
        if (!duration.isDouble() || seconds != std::floor(seconds) || seconds < 1 || seconds > site::maxDurationSeconds)
            return refuse(request, QStringLiteral("a \"duracao_s\" não é um número inteiro de segundos de 1 a %1").arg(site::maxDurationSeconds));
        // Everybody's stop stands until a post is told otherwise.
        if (route == Route::StopAll) return refuse(request, QStringLiteral("para todos os postos, \"Parar\" não tem duração"));
        request.durationSeconds = int(seconds);
    }
    choose(request);
}

void PostMqttClient::tick(const QByteArray& payload, std::optional<qint64> receivedMs)
{
    const auto tick = site::readClockTick(payload);
    if (!tick || tick->clock.isEmpty() || !isShortLine(tick->clock, maxRequestIdChars)) return;
    const std::string clock = tick->clock.toStdString();
    if (receivedMs) ages_.sample(clock, tick->sentMs, *receivedMs);
    if (std::find(tickingClocks_.begin(), tickingClocks_.end(), clock) != tickingClocks_.end()) return;
    tickingClocks_.push_back(clock);
    if (tickingClocks_.size() > RequestAges::maxClocks) tickingClocks_.pop_front();
}

void PostMqttClient::choose(const Request& request)
{
    // Stopping every post also asks each by name: one request, carried out once.
    if (!request.id.isEmpty() && carriedIds_.count(request.id) != 0)
        return answer(request, site::repeatedText, QStringLiteral("já foi feito: um pedido faz-se uma vez"));
    if (!request.clock.empty()) {
        const std::optional<qint64> late = ages_.delay(request.clock, request.sentMs, site::steadyMs());
        ages_.sample(request.clock, request.sentMs, request.receivedMs);
        if (late && *late > request.validityMs - answerReserveMs) return expire(request, *late);
    }
    if (!sending_.admit()) return refuse(request, tooManyText());
    if (!request.id.isEmpty()) {
        carried_.push_back(request.id);
        carriedIds_.insert(request.id);
        if (carried_.size() > rememberedRequests) {
            carriedIds_.erase(carried_.front());
            carried_.pop_front();
        }
    }
    // The control room is said by the origin; any other sender by its own label.
    const Outcome done =
        choose_(*request.sign, request.origin, request.id, request.origin == Origin::Central ? QString() : request.sender, request.durationSeconds);
    answer(request, outcomeText(done.outcome), done.reason, QString::fromStdString(echoWord(done.echo)));
}

void PostMqttClient::expire(const Request& request, qint64 delayMs)
{
    const QString reason =
        QStringLiteral("o pedido chegou %1 ms mais tarde do que o costume, e a central só espera %2 ms pela resposta").arg(delayMs).arg(request.validityMs);
    JournalEntry e = journalEntry(request.origin, QStringLiteral("sinal"), site::expiredText, reason,
                                  request.id.isEmpty() ? QString() : QStringLiteral("pedido %1").arg(request.id), true);
    e.sign = signCaption(*request.sign);
    record(std::move(e));
    answer(request, site::expiredText, reason);
}
