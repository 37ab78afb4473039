// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/site_protocol.h"

#include "mqtt/mqtt_connection.h"
#include "painel_version.h"
#include "signs/sign_names.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace site {

namespace {

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QString time(const QDateTime& when) { return when.toUTC().toString(Qt::ISODateWithMs); }

// A JSON object whose `fields`, where present, are all text; nullopt for anything else, a
// byte-order mark before it included.
std::optional<QJsonObject> textObject(const QByteArray& payload, std::initializer_list<const char*> fields)
{
    if (payload.startsWith("\xEF\xBB\xBF")) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    QJsonObject object = document.object();
    for (const char* field : fields) {
        const QJsonValue value = object.value(QLatin1String(field));
        if (!value.isUndefined() && !value.isString()) return std::nullopt;
    }
    return object;
}

QString text(const QJsonObject& object, const char* field) { return object.value(QLatin1String(field)).toString(); }

QDateTime timeOf(const QJsonObject& object)
{
    const QDateTime when = QDateTime::fromString(text(object, "hora"), Qt::ISODateWithMs);
    return when.isValid() ? when.toUTC() : QDateTime();
}

} // namespace

std::optional<qint64> wholeMs(const QJsonValue& value)
{
    constexpr double exact = 9007199254740992.0; // 2^53
    const double ms = value.toDouble();
    if (!value.isDouble() || ms != std::floor(ms) || std::fabs(ms) >= exact) return std::nullopt;
    return static_cast<qint64>(ms);
}

QByteArray toJson(const State& state)
{
    QJsonObject json{{QStringLiteral("sinal"), state.shown ? signCaption(*state.shown) : QString()},
                     {QStringLiteral("escolhido"), signCaption(state.sign)},
                     {QStringLiteral("modo"), state.mode},
                     {QStringLiteral("cor"), state.colour},
                     {QStringLiteral("hora"), time(state.when)},
                     {QStringLiteral("resultado"), state.outcome},
                     {QStringLiteral("origem"), state.origin},
                     {QStringLiteral("pedido"), state.request},
                     {QStringLiteral("eco"), state.echo}};
    // A failure has a reason, said even when the port gave none; so has a send whose echo is no proof.
    if (state.outcome != outcomeText(SendOutcome::Sent) || !state.reason.isEmpty()) json.insert(QStringLiteral("motivo"), state.reason);
    if (!state.cause.isEmpty()) json.insert(QStringLiteral("causa"), state.cause);
    if (state.ends.isValid()) json.insert(QStringLiteral("termina"), time(state.ends));
    return compact(json);
}

std::optional<State> readState(const QByteArray& payload)
{
    const auto json = textObject(payload, {"sinal", "escolhido", "modo", "cor", "hora", "resultado", "motivo", "origem", "pedido", "eco", "causa", "termina"});
    if (!json) return std::nullopt;
    const bool older = !json->contains(QStringLiteral("escolhido"));
    const std::optional<Sign> chosen = signFromCaption(text(*json, older ? "sinal" : "escolhido"));
    const std::optional<Sign> shown = signFromCaption(text(*json, "sinal"));
    State state{.sign = chosen.value_or(Sign::Stop),
                .shown = shown,
                .mode = text(*json, "modo"),
                .colour = text(*json, "cor"),
                .when = timeOf(*json),
                .outcome = text(*json, "resultado"),
                .reason = text(*json, "motivo"),
                .origin = text(*json, "origem"),
                .request = text(*json, "pedido"),
                .echo = text(*json, "eco"),
                .cause = text(*json, "causa"),
                .ends = QDateTime::fromString(text(*json, "termina"), Qt::ISODateWithMs).toUTC()};
    // An end that is no time is none.
    if (json->contains(QStringLiteral("termina")) && !state.ends.isValid()) return std::nullopt;
    // What the panel shows is a sign's exact name, or nothing when the post cannot tell.
    if (!chosen || (!shown && !text(*json, "sinal").isEmpty()) || state.outcome.isEmpty() || !state.when.isValid()) return std::nullopt;
    return state;
}

QByteArray toJson(const Info& info)
{
    QJsonObject json{{QStringLiteral("nome"), info.name},          {QStringLiteral("versao"), info.version}, {QStringLiteral("porta"), info.port},
                     {QStringLiteral("dispositivo"), info.device}, {QStringLiteral("modo"), info.mode},      {QStringLiteral("cor"), info.colour}};
    if (!info.group.isEmpty()) json.insert(QStringLiteral("grupo"), info.group);
    return compact(json);
}

std::optional<Info> readInfo(const QByteArray& payload)
{
    const auto json = textObject(payload, {"nome", "grupo", "versao", "porta", "dispositivo", "modo", "cor"});
    if (!json) return std::nullopt;
    return Info{text(*json, "nome"),        text(*json, "grupo"), text(*json, "versao"), text(*json, "porta"),
                text(*json, "dispositivo"), text(*json, "modo"),  text(*json, "cor")};
}

QByteArray toJson(const Request& request)
{
    QJsonObject json{{QStringLiteral("sinal"), signCaption(request.sign)},  {QStringLiteral("pedido"), request.id},
                     {QStringLiteral("origem"), QStringLiteral("central")}, {QStringLiteral("relogio"), request.clock},
                     {QStringLiteral("emitido"), request.sentMs},           {QStringLiteral("validade_ms"), request.validityMs}};
    if (request.durationSeconds > 0) json.insert(QStringLiteral("duracao_s"), request.durationSeconds);
    return compact(json);
}

QByteArray toJson(const Answer& answer)
{
    QJsonObject json{{QStringLiteral("pedido"), answer.request}, {QStringLiteral("resultado"), answer.outcome}, {QStringLiteral("hora"), time(answer.when)}};
    for (const auto& [field, value] :
         {std::pair{"sinal", answer.sign ? signCaption(*answer.sign) : QString()}, {"motivo", answer.reason}, {"eco", answer.echo}, {"origem", answer.sender}})
        if (!value.isEmpty()) json.insert(QLatin1String(field), value);
    return compact(json);
}

std::optional<Answer> readAnswer(const QByteArray& payload)
{
    const auto json = textObject(payload, {"pedido", "sinal", "resultado", "motivo", "hora", "eco", "origem"});
    if (!json) return std::nullopt;
    Answer answer{.request = text(*json, "pedido"),
                  .sign = signFromCaption(text(*json, "sinal")),
                  .outcome = text(*json, "resultado"),
                  .reason = text(*json, "motivo"),
                  .when = timeOf(*json),
                  .echo = text(*json, "eco"),
                  .sender = text(*json, "origem")};
    if (answer.request.isEmpty() || answer.outcome.isEmpty() || !answer.when.isValid()) return std::nullopt;
    return answer;
}

QByteArray toJson(const ClockTick& tick) { return compact({{QStringLiteral("relogio"), tick.clock}, {QStringLiteral("emitido"), tick.sentMs}}); }

std::optional<ClockTick> readClockTick(const QByteArray& payload)
{
    const QJsonObject json = QJsonDocument::fromJson(payload).object();
    const std::optional<qint64> sentMs = wholeMs(json.value(QStringLiteral("emitido")));
    if (!json.value(QStringLiteral("relogio")).isString() || !sentMs) return std::nullopt;
    return ClockTick{text(json, "relogio"), *sentMs};
}

QByteArray homeAssistantConfig(const MqttSettings& settings)
{
    const QString base = postTopic(settings.id, {});
    QJsonArray options;
    // In the posts' screen order, as their keys 1 to 5 choose them.
    for (const Sign sign : signsInScreenOrder) options.append(signCaption(sign));
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("painel-sinaletico-%1").arg(settings.id)}},
                             {QStringLiteral("name"), settings.displayName()},
                             {QStringLiteral("manufacturer"), QStringLiteral("painel-sinaletico")},
                             {QStringLiteral("model"), QStringLiteral("Painel 8 x 8 bicolor")},
                             {QStringLiteral("sw_version"), QStringLiteral(PAINEL_VERSION)}};
    return compact({{QStringLiteral("name"), QStringLiteral("Sinal")},
                    {QStringLiteral("unique_id"), QStringLiteral("painel-sinaletico-%1-sinal").arg(settings.id)},
                    {QStringLiteral("command_topic"), base + QStringLiteral("sinal/set")},
                    {QStringLiteral("state_topic"), base + QStringLiteral("sinal")},
                    // What the panel shows; "None", Home Assistant's unknown, when the post cannot tell.
                    {QStringLiteral("value_template"), QStringLiteral("{{ value_json.sinal or 'None' }}")},
                    // The whole state as the entity's attributes: how its send went, the cable's echo.
                    {QStringLiteral("json_attributes_topic"), base + QStringLiteral("sinal")},
                    {QStringLiteral("options"), options},
                    {QStringLiteral("availability_topic"), base + QStringLiteral("estado")},
                    {QStringLiteral("payload_available"), QStringLiteral("online")},
                    {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
                    {QStringLiteral("qos"), MqttConnection::qos},
                    {QStringLiteral("retain"), false},
                    {QStringLiteral("device"), device}});
}

} // namespace site
