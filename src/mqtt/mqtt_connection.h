// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "settings/more_settings.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

// A client of the site's broker, as the settings of [mqtt] say and under their rules (a broker
// elsewhere only with TLS or "sem cifra" chosen knowingly, a password only from a file its owner
// alone reads). libmosquitto runs its own network thread, which reconnects with a growing delay
// after the broker goes away; why it cannot connect is said in the status, and each distinct
// cause journaled once. What the client does on the broker is its subclass's.
class MqttConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int qos = 1;

    // `program` names the client on the broker ("painel-sinaletico-<id>"); `origin` is its
    // journal entries' origin.
    MqttConnection(MqttSettings settings, QString program, Origin origin, Journal* journal, QObject* parent = nullptr);
    ~MqttConnection() override;
    MqttConnection(const MqttConnection&) = delete;
    MqttConnection& operator=(const MqttConnection&) = delete;

    // Starts the client; nullopt when it runs (connected or not yet), otherwise why it may not.
    [[nodiscard]] std::optional<QString> start();

    [[nodiscard]] bool isConnected() const { return connected_; }
    [[nodiscard]] const MqttSettings& settings() const { return settings_; }
    // Where the client connects, or connected last: without TLS, the loopback address the host was
    // checked to be.
    [[nodiscard]] QString connectHost() const { return connectHosts_.empty() ? QString() : connectHosts_[current_]; }
    // The broker of the list tried or connected to, as the settings name it.
    [[nodiscard]] BrokerAddress broker() const { return brokers_.empty() ? BrokerAddress{settings_.host, settings_.port} : brokers_[current_]; }
    // With a list of brokers, how often an idle connection is proved alive at most (libmosquitto's
    // least): a broker fallen silent is left for the next within about 7.5 s. One whose connection
    // closes (killed, restarted, its machine's network gone) is left at once.
    static constexpr int failoverKeepAliveSeconds = 5;

    // How often an idle connection is proved alive; a broker gone without a word (a cut cable) is
    // noticed within about one and a half of it. Before start().
    void setKeepAlive(int seconds) { keepAliveSeconds_ = seconds; }

signals:
    // "MQTT: ligado a host:port como id", or why not, for the status bar's tooltip.
    void statusChanged(const QString& status);
    // Connected, or the connection lost; after `connected()` has run.
    void connectedChanged(bool connected);

protected:
    // What MQTT 5 says of a message beside its payload: where its sender wants the answer, and
    // what to answer with so that the sender knows which of its requests it is.
    struct Reply {
        QString topic;
        QByteArray correlation;
    };

    // Before start(): what the broker says for this client when its connection is lost.
    void setWill(const QString& topic, const QByteArray& payload);
    // Before start(): MQTT 5 rather than 3.1.1, for its subscription options and properties.
    void useMqtt5() { mqtt5_ = true; }
    // Before start(): followed at every connection. `keepRetainFlag` (MQTT 5): a message
    // published retained arrives so marked even while this client is subscribed, as it does
    // otherwise only at the subscription.
    void follow(const QString& topicFilter, bool keepRetainFlag = false) { follows_.push_back({topicFilter, keepRetainFlag}); }
    // From any thread; false when the library refused it (not connected, say). A correlation
    // goes with it under MQTT 5.
    bool publish(const QString& topic, const QByteArray& payload, bool retain, const QByteArray& correlation = {});
    // Disconnects and joins the network thread: a subclass calls it first in its destructor, so
    // that no message reaches it half destroyed.
    void stop();
    void journal(const QString& outcome, const QString& reason, const QString& detail, bool failure);
    // Any entry of the client's own, when there is a journal.
    void record(JournalEntry entry);
    [[nodiscard]] QString where() const;

    // At every connection, on the window's thread.
    virtual void connected() {}
    // On libmosquitto's thread: whatever reaches the window is queued to it.
    virtual void messageArrived(const mosquitto_message& message, const Reply& reply) = 0;

private:
    static void onConnect(mosquitto* client, void* self, int code);
    static void onDisconnect(mosquitto* client, void* self, int code);
    static void onMessage(mosquitto* client, void* self, const mosquitto_message* message, const mqtt5__property* properties);
    static void onLog(mosquitto* client, void* self, int level, const char* text);

    // libmosquitto's thread of `generation` gave up for good (it does on a failed TLS handshake,
    // with no callback): it is started again after the next delay.
    void loopEnded(int generation);
    // Ends libmosquitto's thread, which would otherwise try the lost broker again by itself.
    void endLoop();
    // The next try: with a list, the next broker at once, and after a whole round in vain (or with
    // one broker) after 1 s, then doubling to 30 s. The delay in seconds, 0 for at once.
    int planRetry();
    // With a list of brokers, the lost one is left for the next.
    void failOver();
    // The broker cannot be reached or kept: `cause` in the operator's words, `words` the library's.
    // Each distinct cause is journaled once, until a connection succeeds.
    void cannotConnect(const QString& cause, const QString& words, int retryS = 0);
    void tlsFailed(const QString& words);
    // The status for the last failure, the next try `retryS` seconds away (0: the library's own).
    void showFailure(int retryS);
    // Connects, or tries again later with a growing delay until a connection is under way; then
    // libmosquitto's own thread reconnects, unless it gives up.
    void connectToBroker();
    void becameConnected();
    void setStatus(const QString& status);

    MqttSettings settings_;
    QString program_;
    Origin origin_;
    Journal* journal_;
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    QString status_;
    QString willTopic_;
    QByteArray will_;
    std::vector<std::pair<QString, bool>> follows_;
    bool mqtt5_ = false;
    int keepAliveSeconds_ = 30;
    std::atomic<bool> refused_{false}; // the broker refused the connection just now

    std::thread::id windowThread_ = std::this_thread::get_id();
    std::vector<BrokerAddress> brokers_; // as the settings list them
    std::vector<QString> connectHosts_;  // each: the address that was checked, or the host itself with TLS
    std::size_t current_ = 0;            // the broker tried or connected to
    std::size_t nextBroker_ = 0;         // the one the next try goes to
    std::size_t triedInRound_ = 0;       // brokers tried in vain since the last connection or round
    bool looping_ = false;               // libmosquitto's thread was started and not yet joined
    bool loopEnded_ = false;             // and has ended by itself
    std::atomic<int> loopGeneration_{0}; // which of its threads is the current one
    QStringList journaledCauses_;        // the failures journaled since the last connection
    int failedAttempts_ = 0;             // since the last connection
    QString statusCause_;                // the last failure's cause, as the status says it
    bool hostMismatch_ = false;          // this attempt's TLS failure was the certificate's name
    int retryDelayS_ = 0;                // before the first connection: the delay of the next try
    QTimer retry_;
};

// Starts a client of the broker `settings` name, made by `make`, or says why not: what reading
// the settings refused (`refused`), or what the client's own start refused. The reason is
// journaled under `origin` and returned, and `client` is then empty. With no broker set the
// broker is merely off: nothing to say.
template <typename Client>
std::optional<QString> startMqttClient(std::unique_ptr<Client>& client, const MqttSettings& settings, const QString& refused, Journal* journal, Origin origin,
                                       const std::function<std::unique_ptr<Client>()>& make)
{
    client.reset();
    std::optional<QString> why;
    if (!refused.isEmpty()) why = refused;
    else if (!settings.enabled()) return std::nullopt;
    else if ((why = (client = make())->start())) client.reset();
    if (why && journal != nullptr) journal->record(journalEntry(origin, QStringLiteral("MQTT"), QStringLiteral("recusado"), *why, {}, true));
    return why;
}
