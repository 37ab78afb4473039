// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt/mqtt_connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#ifdef Q_OS_WIN
#include <winsock2.h>
// After winsock2.h, which it needs.
#include <wincrypt.h>
#endif

namespace {

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

// The authorities the system trusts, for a broker whose own authority is not named: OpenSSL reads
// Debian's folder of them on Linux. On Windows they live in the system's store, which OpenSSL
// cannot read: they are written out, as this user sees them, to a file of the user's own that the
// library reads instead, anew at each start so that the store's changes are followed.
struct SystemAuthorities {
    QByteArray file;
    QByteArray folder;
    QString where; // for the operator, when they cannot be used
};
SystemAuthorities systemAuthorities()
{
#ifdef Q_OS_WIN
    const QString fileName = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/painel-sinaletico/autoridades.pem");
    SystemAuthorities authorities{QFile::encodeName(fileName), {}, QStringLiteral("do arquivo de certificados do Windows")};
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) return authorities;
    QByteArray pem;
    for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr; cert = CertEnumCertificatesInStore(store, cert)) {
        const QByteArray der(reinterpret_cast<const char*>(cert->pbCertEncoded), static_cast<qsizetype>(cert->cbCertEncoded));
        pem += "-----BEGIN CERTIFICATE-----\n";
        const QByteArray text = der.toBase64();
        for (qsizetype at = 0; at < text.size(); at += 64) pem += text.mid(at, 64) + '\n';
        pem += "-----END CERTIFICATE-----\n";
    }
    CertCloseStore(store, 0);
    // Not written, the library refuses the file, and the operator is told why.
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(pem) == pem.size()) (void)file.commit();
    return authorities;
#else
    return {{}, QByteArrayLiteral("/etc/ssl/certs"), QStringLiteral("do sistema em /etc/ssl/certs")};
#endif
}

// Says when libmosquitto's thread ends: made by the first callback on that thread, destroyed as
// the thread ends.
struct LoopWatch {
    MqttConnection* link = nullptr;
    int generation = 0;
    std::function<void(MqttConnection*, int)> ended;
    ~LoopWatch()
    {
        if (link != nullptr && ended) ended(link, generation);
    }
};
thread_local LoopWatch loopWatch;

// Why a connection could not even be begun, from mosquitto_connect_async's result.
QString beginFailure(int code, int error, const QString& host, int port)
{
    if (code == MOSQ_ERR_EAI) return QStringLiteral("o nome %1 não se encontra").arg(host);
#ifdef Q_OS_WIN
    // A refusal reaches libmosquitto on Windows as the connection reset under the CONNECT it
    // writes at once.
    if (code == MOSQ_ERR_CONN_LOST && error == WSAECONNRESET) return beginFailure(MOSQ_ERR_ERRNO, WSAECONNREFUSED, host, port);
#endif
    if (code != MOSQ_ERR_ERRNO) return QStringLiteral("a ligação a %1:%2 não começou").arg(host).arg(port);
    // libmosquitto leaves Winsock's own numbers in errno on Windows.
    switch (error) {
#ifdef Q_OS_WIN
    case WSAECONNREFUSED:
#endif
    case ECONNREFUSED: return QStringLiteral("não há broker em %1:%2").arg(host).arg(port);
#ifdef Q_OS_WIN
    case WSAETIMEDOUT:
#endif
    case ETIMEDOUT: return QStringLiteral("%1 não responde").arg(host);
#ifdef Q_OS_WIN
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
#endif
    case EHOSTUNREACH:
    case ENETUNREACH: return QStringLiteral("não há caminho na rede até %1").arg(host);
    default: return QStringLiteral("a ligação a %1:%2 falhou").arg(host).arg(port);
    }
}

// The broker's answer to the connection: MQTT 3.1.1's return codes and MQTT 5's reason codes.
QString refusal(int code)
{
    switch (code) {
    case CONNACK_REFUSED_PROTOCOL_VERSION:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION: return QStringLiteral("o broker não aceita esta versão do MQTT (o posto fala MQTT 5)");
    case CONNACK_REFUSED_IDENTIFIER_REJECTED:
    case MQTT_RC_CLIENTID_NOT_VALID: return QStringLiteral("o broker recusou a identificação do cliente");
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY: return QStringLiteral("o broker está indisponível");
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
    case CONNACK_REFUSED_NOT_AUTHORIZED:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
    case MQTT_RC_NOT_AUTHORIZED: return QStringLiteral("nome ou palavra-passe recusados");
    default: return QStringLiteral("o broker recusou a ligação");
    }
}

} // namespace

MqttConnection::MqttConnection(MqttSettings settings, QString program, Origin origin, Journal* journal, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), program_(std::move(program)), origin_(origin), journal_(journal)
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        current_ = nextBroker_;
        connectToBroker();
    });
}

MqttConnection::~MqttConnection() { stop(); }

void MqttConnection::stop()
{
    if (client_ == nullptr) return;
    // Its end is no news now.
    loopEnded_ = true;
    mosquitto_disconnect(client_);
    if (looping_) mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
    client_ = nullptr;
    connected_ = false;
}

void MqttConnection::setWill(const QString& topic, const QByteArray& payload)
{
    willTopic_ = topic;
    will_ = payload;
}

bool MqttConnection::publish(const QString& topic, const QByteArray& payload, bool retain, const QByteArray& correlation)
{
    if (client_ == nullptr) return false;
    mosquitto_property* properties = nullptr;
    if (mqtt5_ && !correlation.isEmpty())
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.constData(), static_cast<std::uint16_t>(correlation.size()));
    const int code =
        mosquitto_publish_v5(client_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()), payload.constData(), qos, retain, properties);
    mosquitto_property_free_all(&properties);
    return code == MOSQ_ERR_SUCCESS;
}

std::optional<QString> MqttConnection::start()
{
    if (const auto problem = mqttSettingsProblem(settings_)) return problem;
    QByteArray password;
    if (!settings_.passwordFile.isEmpty())
        if (const auto problem = readPassword(settings_.passwordFile, password)) return problem;
    initLibrary();
    client_ = mosquitto_new(QStringLiteral("%1-%2").arg(program_, settings_.id).toUtf8().constData(), true, this);
    if (client_ == nullptr) return QStringLiteral("não foi possível criar o cliente MQTT");
    mosquitto_connect_callback_set(client_, &MqttConnection::onConnect);
    mosquitto_disconnect_callback_set(client_, &MqttConnection::onDisconnect);
    mosquitto_message_v5_callback_set(client_, &MqttConnection::onMessage);
    if (mqtt5_) mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_log_callback_set(client_, &MqttConnection::onLog);
    brokers_ = brokerAddresses(settings_).value_or(std::vector<BrokerAddress>{});
    if (brokers_.empty()) return QStringLiteral("não há broker nas opções");
    // 1 s, then doubling up to 30 s between tries while the broker is away. With a list, the
    // library never gets to try the lost one again: its thread is ended and the next one tried.
    mosquitto_reconnect_delay_set(client_, brokers_.size() > 1 ? 30 : 1, 30, brokers_.size() == 1);
    if (brokers_.size() > 1) keepAliveSeconds_ = std::min(keepAliveSeconds_, failoverKeepAliveSeconds);
    // A sign, or its answer, is one small packet: sent at once rather than held back while the
    // last one waits for its acknowledgement (up to 40 ms).
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!willTopic_.isEmpty()) mosquitto_will_set(client_, willTopic_.toUtf8().constData(), static_cast<int>(will_.size()), will_.constData(), qos, true);
    if (!settings_.user.isEmpty()) mosquitto_username_pw_set(client_, settings_.user.toUtf8().constData(), password.isEmpty() ? nullptr : password.constData());
    if (settings_.tls) {
        const QByteArray ca = QFile::encodeName(settings_.caFile);
        const SystemAuthorities system = ca.isEmpty() ? systemAuthorities() : SystemAuthorities{};
        const QByteArray& file = ca.isEmpty() ? system.file : ca;
        const int code = mosquitto_tls_set(client_, file.isEmpty() ? nullptr : file.constData(), system.folder.isEmpty() ? nullptr : system.folder.constData(),
                                           nullptr, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS)
            return ca.isEmpty() ? QStringLiteral("os certificados %1 não se podem usar").arg(system.where)
                                : QStringLiteral("o ficheiro %1 não se pode usar como certificado da autoridade").arg(settings_.caFile);
    }
    // Without TLS the broker is on this machine: the connection goes to the very address that
    // was found to be this machine's, not to a name that could resolve elsewhere by then.
    connectHosts_.clear();
    for (const BrokerAddress& broker : brokers_)
        connectHosts_.push_back(settings_.tls || settings_.plain ? broker.host : loopbackAddress(broker.host).value_or(broker.host));
    setStatus(QStringLiteral("MQTT: à espera de %1:%2").arg(brokers_.front().host).arg(brokers_.front().port));
    connectToBroker();
    return std::nullopt;
}

QString MqttConnection::where() const { return QStringLiteral("%1:%2 como %3").arg(broker().host).arg(broker().port).arg(settings_.id); }

void MqttConnection::connectToBroker()
{
    if (loopEnded_) {
        // Ended already: this only joins it.
        mosquitto_loop_stop(client_, false);
        looping_ = loopEnded_ = false;
    }
    hostMismatch_ = false;
    const BrokerAddress& broker = brokers_[current_];
    const int code = mosquitto_connect_async(client_, connectHosts_[current_].toUtf8().constData(), broker.port, keepAliveSeconds_);
    // A broker that refuses at once (not running yet, a name that does not resolve) would leave
    // libmosquitto's thread waiting for ever: tried again from here.
    if (code != MOSQ_ERR_SUCCESS) {
        const int error = errno;
        const QString words = code == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(error)) : QString::fromUtf8(mosquitto_strerror(code));
        const QString cause = beginFailure(code, error, broker.host, broker.port);
        // A handshake that failed at once: the library's log has said why, and tlsFailed says it.
        if (code != MOSQ_ERR_TLS) cannotConnect(cause, words);
        const int retryS = planRetry();
        if (code != MOSQ_ERR_TLS) showFailure(retryS);
        return;
    }
    if (looping_) return;
    if (const int started = mosquitto_loop_start(client_); started != MOSQ_ERR_SUCCESS) {
        cannotConnect(QStringLiteral("o cliente MQTT não arrancou"), QString::fromUtf8(mosquitto_strerror(started)));
        return;
    }
    looping_ = true;
}

void MqttConnection::loopEnded(int generation)
{
    if (generation != loopGeneration_ || loopEnded_ || !looping_) return;
    loopEnded_ = true;
    const int retryS = planRetry();
    if (!connected_ && !statusCause_.isEmpty()) showFailure(retryS);
}

void MqttConnection::endLoop()
{
    ++loopGeneration_;
    if (looping_) {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
    }
    looping_ = loopEnded_ = false;
}

int MqttConnection::planRetry()
{
    nextBroker_ = (current_ + 1) % brokers_.size();
    if (brokers_.size() > 1 && ++triedInRound_ < brokers_.size()) {
        retry_.start(0);
        return 0;
    }
    triedInRound_ = 0;
    retryDelayS_ = std::clamp(retryDelayS_ * 2, 1, 30);
    retry_.start(retryDelayS_ * 1000);
    return retryDelayS_;
}

void MqttConnection::failOver()
{
    if (brokers_.size() < 2 || client_ == nullptr || retry_.isActive()) return;
    endLoop();
    showFailure(planRetry());
}

void MqttConnection::tlsFailed(const QString& words)
{
    const int retryS = retry_.isActive() ? retryDelayS_ : 0;
    // OpenSSL names a certificate for another host as unverified too, after the library has
    // said why.
    if (words.contains(QLatin1String("host name verification failed"))) {
        hostMismatch_ = true;
        return cannotConnect(QStringLiteral("o certificado do broker não é para %1").arg(broker().host), words, retryS);
    }
    if (hostMismatch_) return;
    if (words.contains(QLatin1String("certificate verify failed")))
        return cannotConnect(QStringLiteral("o certificado do broker não é de uma autoridade em que se confia"), words, retryS);
    cannotConnect(QStringLiteral("a ligação cifrada (TLS) a %1:%2 falhou").arg(broker().host).arg(broker().port), words, retryS);
}

void MqttConnection::showFailure(int retryS)
{
    setStatus(QStringLiteral("MQTT: sem ligação a %1: %2 (tentativa %3); nova tentativa %4")
                  .arg(where(), statusCause_)
                  .arg(failedAttempts_)
                  .arg(retryS > 0 ? QStringLiteral("em %1 s").arg(retryS) : QStringLiteral("em breve")));
}

void MqttConnection::cannotConnect(const QString& cause, const QString& words, int retryS)
{
    const bool wasConnected = std::exchange(connected_, false);
    if (wasConnected) emit connectedChanged(false);
    if (wasConnected) failedAttempts_ = 0;
    ++failedAttempts_;
    statusCause_ = cause;
    showFailure(retryS);
    if (!wasConnected && journaledCauses_.contains(cause)) return;
    journaledCauses_ << cause;
    journal(QStringLiteral("MQTT desligado"), cause, QStringLiteral("%1; libmosquitto: %2").arg(where(), words), true);
}

void MqttConnection::onConnect(mosquitto* client, void* self, int code)
{
    auto* link = static_cast<MqttConnection*>(self);
    if (code != 0) {
        // The broker closes the connection next, which is no news of its own.
        link->refused_ = true;
        const QString words = QString::fromUtf8(link->mqtt5_ ? mosquitto_reason_string(code) : mosquitto_connack_string(code));
        QMetaObject::invokeMethod(
            link,
            [link, code, words] {
                link->cannotConnect(refusal(code), words);
                link->failOver();
            },
            Qt::QueuedConnection);
        return;
    }
    for (const auto& [filter, keepRetainFlag] : link->follows_)
        mosquitto_subscribe_v5(client, nullptr, filter.toUtf8().constData(), qos, link->mqtt5_ && keepRetainFlag ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0,
                               nullptr);
    QMetaObject::invokeMethod(
        link, [link] { link->becameConnected(); }, Qt::QueuedConnection);
}

void MqttConnection::onDisconnect(mosquitto*, void* self, int code)
{
    auto* link = static_cast<MqttConnection*>(self);
    // 0 is our own disconnection, at the end; a refusal was said by onConnect.
    if (link->refused_.exchange(false) || code == MOSQ_ERR_SUCCESS || code == MOSQ_ERR_CONN_REFUSED) return;
    QMetaObject::invokeMethod(
        link,
        [link, code, words = QString::fromUtf8(mosquitto_strerror(code))] {
            const BrokerAddress broker = link->broker();
            link->cannotConnect(code == MOSQ_ERR_KEEPALIVE ? QStringLiteral("o broker deixou de responder")
                                                           : QStringLiteral("a ligação a %1:%2 caiu").arg(broker.host).arg(broker.port),
                                words);
            link->failOver();
        },
        Qt::QueuedConnection);
}

void MqttConnection::onLog(mosquitto*, void* self, int level, const char* text)
{
    auto* link = static_cast<MqttConnection*>(self);
    // The library logs on the window's thread too, from publish and connect.
    if (loopWatch.link == nullptr && std::this_thread::get_id() != link->windowThread_) {
        loopWatch.link = link;
        loopWatch.generation = link->loopGeneration_;
        loopWatch.ended = [](MqttConnection* watched, int generation) {
            QMetaObject::invokeMethod(
                watched, [watched, generation] { watched->loopEnded(generation); }, Qt::QueuedConnection);
        };
    }
    if (level != MOSQ_LOG_ERR) return;
    const QString words = QString::fromUtf8(text);
    if (!words.contains(QLatin1String("OpenSSL")) && !words.contains(QLatin1String("verification"))) return;
    QMetaObject::invokeMethod(
        link, [link, words] { link->tlsFailed(words); }, Qt::QueuedConnection);
}

void MqttConnection::setStatus(const QString& status)
{
    if (status == status_) return;
    status_ = status;
    emit statusChanged(status_);
}

void MqttConnection::onMessage(mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* properties)
{
    Reply reply;
    char* topic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &topic, false) != nullptr) reply.topic = QString::fromUtf8(topic);
    std::free(topic);
    void* correlation = nullptr;
    std::uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) != nullptr)
        reply.correlation = QByteArray(static_cast<const char*>(correlation), length);
    std::free(correlation);
    static_cast<MqttConnection*>(self)->messageArrived(*message, reply);
}

void MqttConnection::becameConnected()
{
    retryDelayS_ = 0;
    failedAttempts_ = 0;
    journaledCauses_.clear();
    triedInRound_ = 0;
    connected();
    if (std::exchange(connected_, true)) return;
    journal(QStringLiteral("MQTT ligado"), {}, where(), false);
    setStatus(QStringLiteral("MQTT: ligado a %1").arg(where()));
    emit connectedChanged(true);
}

void MqttConnection::journal(const QString& outcome, const QString& reason, const QString& detail, bool failure)
{
    record(journalEntry(origin_, QStringLiteral("MQTT"), outcome, reason, detail, failure));
}

void MqttConnection::record(JournalEntry entry)
{
    if (journal_ != nullptr) journal_->record(std::move(entry));
}
