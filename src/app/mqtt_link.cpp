#include "app/mqtt_link.h"

#include "signs/sign_names.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>


namespace {

constexpr int keepAliveSeconds = 30;
constexpr int qos = 1;

QString tooManyText() { return QStringLiteral("mais de %1 mensagens por segundo").arg(MqttLink::signsPerSecond); }

// The library once a process, before any client.
void initLibrary()
{
    static const bool done = (mosquitto_lib_init(), true);
    Q_UNUSED(done);
}

// The password, from a file that passwordFileProblem() accepts: nothing else is ever used.
std::optional<QString> readPassword(const QString& fileName, QByteArray& password)
{
    if (const auto problem = passwordFileProblem(fileName)) return problem;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("o ficheiro da palavra-passe %1 não se pode ler").arg(fileName);
    password = file.readLine(4096).trimmed();
    return std::nullopt;
}

} // namespace

MqttLink::MqttLink(MqttSettings settings, Chooser choose, Journal* journal, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), choose_(std::move(choose)), journal_(journal)
{
    burst_.setInterval(1000);
    connect(&burst_, &QTimer::timeout, this, &MqttLink::burstTick);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttLink::connectToBroker);
}

MqttLink::~MqttLink()
{
    if (client_ == nullptr) return;
    // Gone on purpose: say so, as the will would only be sent for a lost connection.
    if (connected_) mosquitto_publish(client_, nullptr, topic(QStringLiteral("estado")).toUtf8().constData(), 7, "offline", qos, true);
    mosquitto_disconnect(client_);
    if (looping_) mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
}

QString MqttLink::topic(const QString& leaf) const { return QStringLiteral("painel-sinaletico/%1/%2").arg(settings_.id, leaf); }

std::optional<QString> MqttLink::start()
{
    if (const auto problem = mqttSettingsProblem(settings_)) return problem;
    QByteArray password;
    if (!settings_.passwordFile.isEmpty())
        if (const auto problem = readPassword(settings_.passwordFile, password)) return problem;
    initLibrary();
    client_ = mosquitto_new(QStringLiteral("painel-sinaletico-%1").arg(settings_.id).toUtf8().constData(), true, this);
    if (client_ == nullptr) return QStringLiteral("não foi possível criar o cliente MQTT");
    mosquitto_connect_callback_set(client_, &MqttLink::onConnect);
    mosquitto_disconnect_callback_set(client_, &MqttLink::onDisconnect);
    mosquitto_message_callback_set(client_, &MqttLink::onMessage);
    // 1 s, then doubling up to 30 s between tries while the broker is away.
    mosquitto_reconnect_delay_set(client_, 1, 30, true);
    const QByteArray state = topic(QStringLiteral("estado")).toUtf8();
    mosquitto_will_set(client_, state.constData(), 7, "offline", qos, true);
    if (!settings_.user.isEmpty())
        mosquitto_username_pw_set(client_, settings_.user.toUtf8().constData(), password.isEmpty() ? nullptr : password.constData());
    if (settings_.tls) {
        const QByteArray ca = QFile::encodeName(settings_.caFile);
        const int code = mosquitto_tls_set(client_, ca.isEmpty() ? nullptr : ca.constData(), ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                           nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) return QStringLiteral("TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(code)));
    }
    // Without TLS the broker is on this machine: the connection goes to the very address that
    // was found to be this machine's, not to a name that could resolve elsewhere by then.
    connectHost_ = settings_.tls || settings_.plain ? settings_.host : loopbackAddress(settings_.host).value_or(settings_.host);
    setStatus(QStringLiteral("MQTT: à espera de %1:%2").arg(settings_.host).arg(settings_.port));
    connectToBroker();
    return std::nullopt;
}

void MqttLink::connectToBroker()
{
    const int code = mosquitto_connect_async(client_, connectHost_.toUtf8().constData(), settings_.port, keepAliveSeconds);
    // A broker that refuses at once (not running yet, a name that does not resolve) would leave
    // libmosquitto's thread waiting for ever: tried again from here, 1 s, then doubling to 30 s.
    if (code != MOSQ_ERR_SUCCESS) {
        retryDelayS_ = std::clamp(retryDelayS_ * 2, 1, 30);
        const QString why = code == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno)) : QString::fromUtf8(mosquitto_strerror(code));
        setStatus(QStringLiteral("MQTT: sem ligação a %1:%2 (%3); nova tentativa em %4 s").arg(settings_.host).arg(settings_.port).arg(why).arg(retryDelayS_));
        retry_.start(retryDelayS_ * 1000);
        return;
    }
    if (looping_) return;
    if (const int started = mosquitto_loop_start(client_); started != MOSQ_ERR_SUCCESS) {
        setStatus(QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(started))));
        return;
    }
    looping_ = true;
}

void MqttLink::publishState(SignKind kind, const QString& mode, const QString& colour, SendOutcome outcome)
{
    const QJsonObject state{{QStringLiteral("sinal"), signCaption(kind)},
                            {QStringLiteral("modo"), mode},
                            {QStringLiteral("cor"), colour},
                            {QStringLiteral("hora"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                            {QStringLiteral("resultado"), outcomeText(outcome)}};
    state_ = QJsonDocument(state).toJson(QJsonDocument::Compact);
    if (client_ != nullptr && connected_)
        mosquitto_publish(client_, nullptr, topic(QStringLiteral("sinal")).toUtf8().constData(), static_cast<int>(state_.size()),
                          state_.constData(), qos, true);
}

void MqttLink::onConnect(mosquitto* client, void* self, int code)
{
    auto* link = static_cast<MqttLink*>(self);
    if (code != 0) {
        QMetaObject::invokeMethod(link, [link, why = QString::fromUtf8(mosquitto_connack_string(code))] { link->connectedChanged(false, why); },
                                  Qt::QueuedConnection);
        return;
    }
    mosquitto_subscribe(client, nullptr, link->topic(QStringLiteral("sinal/set")).toUtf8().constData(), qos);
    QMetaObject::invokeMethod(link, [link] { link->connectedChanged(true, {}); }, Qt::QueuedConnection);
}

void MqttLink::onDisconnect(mosquitto*, void* self, int code)
{
    auto* link = static_cast<MqttLink*>(self);
    const QString why = code == 0 ? QStringLiteral("desligado") : QString::fromUtf8(mosquitto_strerror(code));
    QMetaObject::invokeMethod(link, [link, why] { link->connectedChanged(false, why); }, Qt::QueuedConnection);
}

void MqttLink::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* link = static_cast<MqttLink*>(self);
    if (message->retain) {
        const QByteArray kept(static_cast<const char*>(message->payload), std::min(message->payloadlen, maxPayloadBytes));
        QMetaObject::invokeMethod(link, [link, kept] { link->ignoreRetained(kept); }, Qt::QueuedConnection);
        return;
    }
    if (message->payloadlen > maxPayloadBytes) return link->rejected(QStringLiteral("mensagem de %1 bytes, acima de %2").arg(message->payloadlen).arg(maxPayloadBytes));
    if (!link->arriving_.admit()) return link->rejected(tooManyText());
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(link, [link, payload] { link->handle(payload); }, Qt::QueuedConnection);
}

void MqttLink::ignoreRetained(const QByteArray& payload)
{
    // The broker hands the same one over at every connection: journaled the first time only.
    if (payload == std::exchange(lastIgnored_, payload)) return;
    JournalEntry e;
    e.origin = Origin::Remote;
    e.action = QStringLiteral("MQTT");
    e.outcome = QStringLiteral("mensagem retida ignorada");
    e.reason = QStringLiteral("guardada pelo broker (retain): um pedido antigo não escolhe o sinal de agora");
    e.detail = QString::fromUtf8(payload);
    e.failure = true;
    if (journal_ != nullptr) journal_->record(std::move(e));
}

void MqttLink::rejected(const QString& reason)
{
    ++rejectedCount_;
    // Only the first of a burst reaches the UI thread: a flood must not flood the window too.
    if (burstOpen_.exchange(true)) return;
    QMetaObject::invokeMethod(this, [this, reason] {
        journal(QStringLiteral("mensagem rejeitada"), reason, {}, true);
        burstTotal_ = 0;
        burst_.start();
    }, Qt::QueuedConnection);
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
    // A byte-order mark is kept as a character, so that "\uFEFFParar" is no sign: only exact
    // names and places are.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString name = utf8(payload);
    if (utf8.hasError()) return rejected(QStringLiteral("a mensagem não é UTF-8"));
    const std::optional<SignKind> kind = signFromName(name);
    if (!kind) return rejected(notASignText(name));
    if (!sending_.admit()) return rejected(tooManyText());
    (void)choose_(*kind);
}

void MqttLink::connectedChanged(bool connected, const QString& detail)
{
    const QString where = QStringLiteral("%1:%2 como %3").arg(settings_.host).arg(settings_.port).arg(settings_.id);
    if (connected) {
        mosquitto_publish(client_, nullptr, topic(QStringLiteral("estado")).toUtf8().constData(), 6, "online", qos, true);
        if (!state_.isEmpty())
            mosquitto_publish(client_, nullptr, topic(QStringLiteral("sinal")).toUtf8().constData(), static_cast<int>(state_.size()),
                              state_.constData(), qos, true);
    }
    if (connected == connected_ && !connected) return setStatus(QStringLiteral("MQTT: sem ligação a %1 (%2); nova tentativa em breve").arg(where, detail));
    connected_ = connected;
    journal(connected ? QStringLiteral("MQTT ligado") : QStringLiteral("MQTT desligado"), connected ? QString() : detail, where, !connected);
    setStatus(connected ? QStringLiteral("MQTT: ligado a %1").arg(where)
                        : QStringLiteral("MQTT: sem ligação a %1 (%2); nova tentativa em breve").arg(where, detail));
}

void MqttLink::journal(const QString& outcome, const QString& reason, const QString& detail, bool failure)
{
    if (journal_ == nullptr) return;
    JournalEntry e;
    e.origin = Origin::Remote;
    e.action = QStringLiteral("MQTT");
    e.outcome = outcome;
    e.reason = reason;
    e.detail = detail;
    e.failure = failure;
    journal_->record(std::move(e));
}

void MqttLink::setStatus(const QString& status)
{
    if (status == status_) return;
    status_ = status;
    emit statusChanged(status_);
}
