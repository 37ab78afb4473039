// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/more_settings.h"
#include "signs/sign_table.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <chrono>
#include <optional>

// What the posts and the control room say to each other on the site's broker: the topics, the
// clock requests are timed by, the words of an answer. The topics, as both use them. A post's
// own are under painel-sinaletico/<id>/; the control room's under painel-central/, a root no
// post id can reach, so that an ACL can keep them to the control room's user alone.
namespace site {

inline const QString postRoot = QStringLiteral("painel-sinaletico");
inline const QString centralRoot = QStringLiteral("painel-central");

// painel-sinaletico/<id>/<leaf>: "estado", "sinal", "info", "resposta", "sinal/set".
[[nodiscard]] inline QString postTopic(const QString& id, const QString& leaf) { return postRoot + QLatin1Char('/') + id + QLatin1Char('/') + leaf; }
// "Parar" to every post at once, whether or not a control room knows of it.
[[nodiscard]] inline QString stopAllTopic() { return centralRoot + QStringLiteral("/parar"); }
// painel-central/<id>/<leaf>: the control room's clock ("relogio") and its own check ("sonda").
[[nodiscard]] inline QString centralTopic(const QString& id, const QString& leaf) { return centralRoot + QLatin1Char('/') + id + QLatin1Char('/') + leaf; }
// Home Assistant's discovery of a post's sign, as a select entity.
[[nodiscard]] inline QString homeAssistantTopic(const QString& id) { return QStringLiteral("homeassistant/select/%1/sinal/config").arg(id); }

// Milliseconds on this computer's monotonic clock, which nobody sets: what a request's delay is
// measured by, at both ends.
[[nodiscard]] inline qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A request's answer when it was not carried out: "pedido expirado", too old to be; "recusado",
// for its form, its size, its rate, or because the broker kept it; "pedido repetido", carried out
// already under its id. Carried out, the answer is the send's outcome ("enviado", ...).
inline const QString expiredText = QStringLiteral("pedido expirado");
inline const QString refusedText = QStringLiteral("recusado");
inline const QString repeatedText = QStringLiteral("pedido repetido");

// A whole number of milliseconds, as JSON's numbers carry them: one a double holds exactly.
[[nodiscard]] std::optional<qint64> wholeMs(const QJsonValue& value);

// The messages, each as JSON of one line; the names of their fields are written here alone.

// .../sinal, retained: the sign a post was told to show, how that went, and what its panel shows
// as far as the post can tell.
struct State {
    Sign sign = Sign::Stop;    // the sign chosen last ("escolhido")
    std::optional<Sign> shown; // what the panel shows ("sinal"): unknown after a send cut short
                               // or without the proof its echo was to give
    QString mode;              // "multicor" or "monocor"
    QString colour;            // the mono-colour signs' colour
    QDateTime when;            // by the post's own clock
    QString outcome;           // "enviado", or how the send failed
    QString reason;            // why it failed
    QString origin;            // the journal's word for who chose it
    QString request;           // the request it answers; empty for any other choice
    QString echo;              // the cable's echo: "confirmado", "sem eco", "diferente", "incompleto", "desligado"
    QString cause;             // why the post chose it by itself ("causa"): its safe state, a time run out
    QDateTime ends;            // when the sign's time runs out ("termina"), by the post's own clock; null: no end
};
[[nodiscard]] QByteArray toJson(const State& state);
// nullopt unless `payload` is exactly a post's state: a JSON object (a byte-order mark first makes
// it none) whose fields are all text, with a sign's exact name, an outcome and a time. A post of an
// older version says only "sinal", the sign chosen, taken as shown too.
[[nodiscard]] std::optional<State> readState(const QByteArray& payload);

// .../info, retained: what the post is.
struct Info {
    QString name;
    QString group; // "grupo", only when the post has one
    QString version;
    QString port;
    QString device;
    QString mode;
    QString colour;
};
[[nodiscard]] QByteArray toJson(const Info& info);
[[nodiscard]] std::optional<Info> readInfo(const QByteArray& payload);

// The longest a sign is asked to stand ("duracao_s"): a day.
inline constexpr int maxDurationSeconds = 86'400;

// A control room's request, on a post's .../sinal/set or on everybody's stop.
struct Request {
    Sign sign = Sign::Stop;
    QString id;
    QString clock;     // the control room's run, whose monotonic clock stamped it
    qint64 sentMs = 0; // on that clock
    qint64 validityMs = 0;
    int durationSeconds = 0; // "duracao_s": the sign stands this long, then the post's base sign; 0 for ever
};
[[nodiscard]] QByteArray toJson(const Request& request);

// .../resposta, and the request's own response topic (MQTT 5): every request's answer, carried
// out or not.
struct Answer {
    QString request;
    std::optional<Sign> sign; // what the request asked for, when that could be read
    QString outcome;
    QString reason;
    QDateTime when; // by the post's own clock
    QString echo;   // carried out: the cable's echo of its send
    QString sender; // the request's "origem", as it came
};
[[nodiscard]] QByteArray toJson(const Answer& answer);
[[nodiscard]] std::optional<Answer> readAnswer(const QByteArray& payload);

// painel-central/<id>/estado, retained: "online" while the control room is connected; its last will
// says "offline" when the connection is lost, and a control room closed on purpose takes it away.
inline const QByteArray centralOnline = "online";
inline const QByteArray centralLost = "offline";

// painel-central/<id>/relogio: the control room's clock, now.
struct ClockTick {
    QString clock;
    qint64 sentMs = 0;
};
[[nodiscard]] QByteArray toJson(const ClockTick& tick);
[[nodiscard]] std::optional<ClockTick> readClockTick(const QByteArray& payload);

// Home Assistant's discovery of a post: a select entity with the five signs in the posts' screen
// order, the post's own set topic as its command, its state and its availability.
[[nodiscard]] QByteArray homeAssistantConfig(const MqttSettings& settings);

} // namespace site
