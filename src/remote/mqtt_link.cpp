// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/mqtt_link.h"

#include "signs/sign_names.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <mosquitto.h>

#include <algorithm>

namespace {

QString tooManyText() { return QStringLiteral("mais de %1 mensagens por segundo").arg(MqttLink::signsPerSecond); }

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

} // namespace

MqttLink::MqttLink(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent)
    : MqttConnection(std::move(settings), QStringLiteral("painel-sinaletico"), Origin::Remote, journal, parent), choose_(std::move(choose))
{
    burst_.setInterval(1000);
    connect(&burst_, &QTimer::timeout, this, &MqttLink::burstTick);
    setWill(topic(QStringLiteral("estado")), "offline");
    follow(topic(QStringLiteral("sinal/set")));
}

MqttLink::~MqttLink()
{
    // Gone on purpose: say so, as the will would only be sent for a lost connection.
    if (isConnected()) publish(topic(QStringLiteral("estado")), "offline", true);
    stop();
}

QString MqttLink::topic(const QString& leaf) const { return QStringLiteral("painel-sinaletico/%1/%2").arg(settings().id, leaf); }

QString MqttLink::homeAssistantTopic(const QString& id) { return QStringLiteral("homeassistant/select/%1/sinal/config").arg(id); }

QByteArray MqttLink::homeAssistantConfig(const MqttSettings& settings)
{
    const QString base = QStringLiteral("painel-sinaletico/%1/").arg(settings.id);
    QJsonArray options;
    for (int i = 0; i < signCount; ++i) options.append(signCaption(Sign(i)));
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("painel-sinaletico-%1").arg(settings.id)}},
                             {QStringLiteral("name"), settings.displayName()},
                             {QStringLiteral("manufacturer"), QStringLiteral("painel-sinaletico")},
                             {QStringLiteral("model"), QStringLiteral("Painel 8 x 8 bicolor")},
                             {QStringLiteral("sw_version"), QStringLiteral(PAINEL_VERSION)}};
    return compact({{QStringLiteral("name"), QStringLiteral("Sinal")},
                    {QStringLiteral("unique_id"), QStringLiteral("painel-sinaletico-%1-sinal").arg(settings.id)},
                    {QStringLiteral("command_topic"), base + QStringLiteral("sinal/set")},
                    {QStringLiteral("state_topic"), base + QStringLiteral("sinal")},
                    {QStringLiteral("value_template"), QStringLiteral("{{ value_json.sinal }}")},
                    {QStringLiteral("options"), options},
                    {QStringLiteral("availability_topic"), base + QStringLiteral("estado")},
                    {QStringLiteral("payload_available"), QStringLiteral("online")},
                    {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
                    {QStringLiteral("qos"), qos},
                    {QStringLiteral("retain"), false},
                    {QStringLiteral("device"), device}});
}

void MqttLink::publishKept(const QString& leaf, const QByteArray& payload)
{
    if (isConnected()) publish(topic(leaf), payload, true);
}

void MqttLink::publishState(const State& state)
{
    QJsonObject json{{QStringLiteral("sinal"), signCaption(state.sign)},
                     {QStringLiteral("modo"), state.mode},
                     {QStringLiteral("cor"), state.colour},
                     {QStringLiteral("hora"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                     {QStringLiteral("resultado"), outcomeText(state.outcome)},
                     {QStringLiteral("origem"), originText(state.origin)},
                     {QStringLiteral("pedido"), state.request}};
    if (state.outcome != SendOutcome::Sent) json.insert(QStringLiteral("motivo"), state.reason);
    state_ = compact(json);
    publishKept(QStringLiteral("sinal"), state_);
}

void MqttLink::publishInfo(const Info& info)
{
    info_ = compact({{QStringLiteral("nome"), settings().displayName()},
                     {QStringLiteral("versao"), QStringLiteral(PAINEL_VERSION)},
                     {QStringLiteral("porta"), info.port},
                     {QStringLiteral("dispositivo"), info.device},
                     {QStringLiteral("modo"), info.mode},
                     {QStringLiteral("cor"), info.colour}});
    publishKept(QStringLiteral("info"), info_);
}

void MqttLink::connected()
{
    publish(topic(QStringLiteral("estado")), "online", true);
    for (const auto& [leaf, payload] : {std::pair{QStringLiteral("info"), &info_}, {QStringLiteral("sinal"), &state_}})
        if (!payload->isEmpty()) publish(topic(leaf), *payload, true);
    if (settings().homeAssistant) publish(homeAssistantTopic(settings().id), homeAssistantConfig(settings()), true);
}

void MqttLink::messageArrived(const mosquitto_message& message)
{
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
        this, [this, payload] { handle(payload); }, Qt::QueuedConnection);
}

void MqttLink::ignoreRetained(const QByteArray& payload)
{
    // The broker hands the same one over at every connection: journaled the first time only.
    if (payload == std::exchange(lastIgnored_, payload)) return;
    journal(QStringLiteral("mensagem retida ignorada"), QStringLiteral("guardada pelo broker (retain): um pedido antigo não escolhe o sinal de agora"),
            QString::fromUtf8(payload), true);
}

void MqttLink::rejected(const QString& reason)
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

void MqttLink::burstTick()
{
    const int count = rejectedCount_.exchange(0);
    burstTotal_ += count;
    if (count > 0) return;
    // A second without rejections: the burst is over.
    burst_.stop();
    burstOpen_ = false;
    if (burstTotal_ > 1) journal(QStringLiteral("mensagens rejeitadas"), {}, QStringLiteral("%1 numa rajada").arg(burstTotal_), true);
}

void MqttLink::handle(const QByteArray& payload)
{
    if (payload.startsWith('{')) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) return rejected(QStringLiteral("o pedido não é um objeto JSON"));
        return handleRequest(document.object());
    }
    // A byte-order mark is kept as a character, so that "\uFEFFParar" is no sign: only exact
    // names and places are.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString name = utf8(payload);
    if (utf8.hasError()) return rejected(QStringLiteral("a mensagem não é UTF-8"));
    const std::optional<Sign> kind = signFromName(name);
    if (!kind) return rejected(notASignText(name));
    choose(*kind, Origin::Remote, {});
}

void MqttLink::handleRequest(const QJsonObject& request)
{
    const QJsonValue sign = request.value(QStringLiteral("sinal"));
    const QJsonValue id = request.value(QStringLiteral("pedido"));
    const QJsonValue origin = request.value(QStringLiteral("origem"));
    if (!sign.isString()) return rejected(QStringLiteral("o pedido não diz o sinal (\"sinal\")"));
    const std::optional<Sign> kind = signFromName(sign.toString());
    if (!kind) return rejected(notASignText(sign.toString()));
    // The id is echoed in the state and the journal: short, and one line of printable text.
    const QString requestId = id.toString();
    if (!(id.isString() || id.isUndefined()) || requestId.size() > maxRequestIdChars
        || std::any_of(requestId.cbegin(), requestId.cend(), [](QChar c) { return !c.isPrint(); }))
        return rejected(QStringLiteral("o \"pedido\" não é um texto de até %1 caracteres").arg(maxRequestIdChars));
    if (!origin.isUndefined() && origin.toString() != QLatin1String("central")) return rejected(QStringLiteral("a \"origem\" só pode ser \"central\""));
    choose(*kind, origin.isUndefined() ? Origin::Remote : Origin::Central, requestId);
}

void MqttLink::choose(Sign kind, Origin origin, const QString& request)
{
    if (!sending_.admit()) return rejected(tooManyText());
    (void)choose_(kind, origin, request);
}
