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

namespace {

QString tooManyText() { return QStringLiteral("mais de %1 mensagens por segundo").arg(PostMqttClient::signsPerSecond); }

// One line of printable text of up to `chars` characters.
bool isShortLine(const QString& text, qsizetype chars)
{
    return text.size() <= chars && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

} // namespace

PostMqttClient::PostMqttClient(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent)
    : MqttConnection(std::move(settings), QStringLiteral("painel-sinaletico"), Origin::Remote, journal, parent), choose_(std::move(choose))
{
    burst_.setInterval(1000);
    connect(&burst_, &QTimer::timeout, this, &PostMqttClient::burstTick);
    setWill(topic(QStringLiteral("estado")), "offline");
    follow(topic(QStringLiteral("sinal/set")));
    follow(site::stopAllTopic());
    follow(site::centralTopic(QStringLiteral("+"), QStringLiteral("relogio")));
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
                                      .mode = state.mode,
                                      .colour = state.colour,
                                      .when = QDateTime::currentDateTimeUtc(),
                                      .outcome = outcomeText(state.outcome),
                                      .reason = state.reason,
                                      .origin = originText(state.origin),
                                      .request = state.request,
                                      .echo = QString::fromStdString(echoWord(state.echo))});
    publishKept(QStringLiteral("sinal"), state_);
}

void PostMqttClient::publishInfo(const Info& info)
{
    info_ = site::toJson(site::Info{settings().displayName(), QStringLiteral(PAINEL_VERSION), info.port, info.device, info.mode, info.colour});
    publishKept(QStringLiteral("info"), info_);
}

void PostMqttClient::connected()
{
    publish(topic(QStringLiteral("estado")), "online", true);
    for (const auto& [leaf, payload] : {std::pair{QStringLiteral("info"), &info_}, {QStringLiteral("sinal"), &state_}})
        if (!payload->isEmpty()) publish(topic(leaf), *payload, true);
    if (settings().homeAssistant) publish(site::homeAssistantTopic(settings().id), site::homeAssistantConfig(settings()), true);
}

void PostMqttClient::messageArrived(const mosquitto_message& message)
{
    const qint64 receivedMs = site::steadyMs();
    const QString where = QString::fromUtf8(message.topic);
    const bool set = where == topic(QStringLiteral("sinal/set"));
    const Route route = set ? Route::Set : Route::StopAll;
    if (!set && where != site::stopAllTopic()) {
        // The control room's clock: small, never kept, and only ever a few a second.
        if (message.retain || message.payloadlen > maxRequestBytes || !ticks_.admit()) return;
        const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
        QMetaObject::invokeMethod(
            this, [this, payload, receivedMs] { tick(payload, receivedMs); }, Qt::QueuedConnection);
        return;
    }
    if (message.retain) {
        const QByteArray kept(static_cast<const char*>(message.payload), std::min(message.payloadlen, maxPayloadBytes));
        QMetaObject::invokeMethod(
            this, [this, kept] { ignoreRetained(kept); }, Qt::QueuedConnection);
        return;
    }
    // A bare name is short; only a request in JSON may be longer.
    const bool json = message.payloadlen > 0 && static_cast<const char*>(message.payload)[0] == '{';
    const int limit = json ? maxRequestBytes : maxPayloadBytes;
    if (message.payloadlen > limit) return rejected(QStringLiteral("mensagem de %1 bytes, acima de %2").arg(message.payloadlen).arg(limit));
    if (!arriving_.admit()) return rejected(tooManyText());
    const QByteArray payload(static_cast<const char*>(message.payload), message.payloadlen);
    QMetaObject::invokeMethod(
        this, [this, payload, route, receivedMs] { handle(payload, route, receivedMs); }, Qt::QueuedConnection);
}

void PostMqttClient::ignoreRetained(const QByteArray& payload)
{
    // The broker hands the same one over at every connection: journaled the first time only.
    if (payload == std::exchange(lastIgnored_, payload)) return;
    journal(QStringLiteral("mensagem retida ignorada"), QStringLiteral("guardada pelo broker (retain): um pedido antigo não escolhe o sinal de agora"),
            QString::fromUtf8(payload), true);
}

void PostMqttClient::rejected(const QString& reason)
{
    ++rejectedCount_;
    // Only the first of a burst reaches the UI thread: a flood must not flood the window too.
    if (burstOpen_.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            journal(QStringLiteral("mensagem rejeitada"), reason, {}, true);
            burstTotal_ = 0;
            burst_.start();
        },
        Qt::QueuedConnection);
}

void PostMqttClient::burstTick()
{
    const int count = rejectedCount_.exchange(0);
    burstTotal_ += count;
    if (count > 0) return;
    // A second without rejections: the burst is over.
    burst_.stop();
    burstOpen_ = false;
    if (burstTotal_ > 1) journal(QStringLiteral("mensagens rejeitadas"), {}, QStringLiteral("%1 numa rajada").arg(burstTotal_), true);
}

void PostMqttClient::handle(const QByteArray& payload, Route route, qint64 receivedMs)
{
    if (payload.startsWith('{')) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) return rejected(QStringLiteral("o pedido não é um objeto JSON"));
        return handleRequest(document.object(), route, receivedMs);
    }
    if (route == Route::StopAll) return rejected(QStringLiteral("o pedido para todos não é um objeto JSON"));
    // A byte-order mark is kept as a character, so that "\uFEFFParar" is no sign: only exact
    // names and places are.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString name = utf8(payload);
    if (utf8.hasError()) return rejected(QStringLiteral("a mensagem não é UTF-8"));
    const std::optional<Sign> kind = signFromName(name);
    if (!kind) return rejected(notASignText(name));
    Request request;
    request.sign = *kind;
    request.receivedMs = receivedMs;
    choose(request);
}

void PostMqttClient::handleRequest(const QJsonObject& json, Route route, qint64 receivedMs)
{
    const QJsonValue sign = json.value(QStringLiteral("sinal"));
    const QJsonValue id = json.value(QStringLiteral("pedido"));
    const QJsonValue origin = json.value(QStringLiteral("origem"));
    if (!sign.isString()) return rejected(QStringLiteral("o pedido não diz o sinal (\"sinal\")"));
    const std::optional<Sign> kind = signFromName(sign.toString());
    if (!kind) return rejected(notASignText(sign.toString()));
    // Everybody's topic stops, and nothing else: no other sign is right for every post at once.
    if (route == Route::StopAll && *kind != Sign::Stop) return rejected(QStringLiteral("para todos os postos só se pede \"Parar\""));
    // The id is echoed in the state and the journal: short, and one line of printable text.
    if (!(id.isString() || id.isUndefined()) || !isShortLine(id.toString(), maxRequestIdChars))
        return rejected(QStringLiteral("o \"pedido\" não é um texto de até %1 caracteres").arg(maxRequestIdChars));
    if (!origin.isUndefined() && origin.toString() != QLatin1String("central")) return rejected(QStringLiteral("a \"origem\" só pode ser \"central\""));
    Request request;
    request.sign = *kind;
    request.origin = origin.isUndefined() ? Origin::Remote : Origin::Central;
    request.id = id.toString();
    request.receivedMs = receivedMs;
    // When it was sent, on the control room's clock: both or neither, and the wait if it says.
    const QJsonValue clock = json.value(QStringLiteral("relogio"));
    const QJsonValue sent = json.value(QStringLiteral("emitido"));
    const QJsonValue validity = json.value(QStringLiteral("validade_ms"));
    if (clock.isUndefined() != sent.isUndefined()) return rejected(QStringLiteral("o pedido diz \"relogio\" e \"emitido\", ou nenhum"));
    if (!clock.isUndefined()) {
        const std::optional<qint64> sentMs = site::wholeMs(sent);
        if (!clock.isString() || clock.toString().isEmpty() || !isShortLine(clock.toString(), maxRequestIdChars) || !sentMs)
            return rejected(QStringLiteral("o \"relogio\" ou o \"emitido\" do pedido não se entendem"));
        request.clock = clock.toString().toStdString();
        request.sentMs = *sentMs;
    }
    if (!validity.isUndefined()) {
        const std::optional<qint64> ms = site::wholeMs(validity);
        if (!ms || *ms < answerReserveMs || *ms > 3'600'000)
            return rejected(QStringLiteral("a \"validade_ms\" do pedido não é de %1 a 3600000").arg(answerReserveMs));
        request.validityMs = *ms;
    }
    choose(request);
}

void PostMqttClient::tick(const QByteArray& payload, qint64 receivedMs)
{
    const auto tick = site::readClockTick(payload);
    if (tick && !tick->clock.isEmpty() && isShortLine(tick->clock, maxRequestIdChars)) ages_.sample(tick->clock.toStdString(), tick->sentMs, receivedMs);
}

void PostMqttClient::choose(const Request& request)
{
    // Stopping every post also asks each by name: one request, carried out once.
    if (!request.id.isEmpty() && carriedIds_.count(request.id) != 0) return;
    if (!request.clock.empty()) {
        const std::optional<qint64> late = ages_.delay(request.clock, request.sentMs, site::steadyMs());
        ages_.sample(request.clock, request.sentMs, request.receivedMs);
        if (late && *late > request.validityMs - answerReserveMs) return expire(request, *late);
    }
    if (!sending_.admit()) return rejected(tooManyText());
    if (!request.id.isEmpty()) {
        carried_.push_back(request.id);
        carriedIds_.insert(request.id);
        if (carried_.size() > rememberedRequests) {
            carriedIds_.erase(carried_.front());
            carried_.pop_front();
        }
    }
    (void)choose_(request.sign, request.origin, request.id);
}

void PostMqttClient::expire(const Request& request, qint64 delayMs)
{
    const QString reason =
        QStringLiteral("o pedido chegou %1 ms mais tarde do que o costume, e a central só espera %2 ms pela resposta").arg(delayMs).arg(request.validityMs);
    JournalEntry e = journalEntry(request.origin, QStringLiteral("sinal"), site::expiredText, reason,
                                  request.id.isEmpty() ? QString() : QStringLiteral("pedido %1").arg(request.id), true);
    e.sign = signCaption(request.sign);
    record(std::move(e));
    if (isConnected())
        publish(topic(QStringLiteral("resposta")),
                site::toJson(site::Answer{
                    .request = request.id, .sign = request.sign, .outcome = site::expiredText, .reason = reason, .when = QDateTime::currentDateTimeUtc()}),
                false);
}
