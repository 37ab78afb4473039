// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "journal/journal.h"
#include "signs/sign_table.h"

#include <QString>
#include <QStringList>

class QSettings;

#include <array>
#include <optional>
#include <vector>

// The broker a site's controller publishes signs to. Off while `host` is empty.
struct MqttSettings {
    static constexpr int maxNameChars = 64;
    // One broker, or several tried in order ("broker-a.site,broker-b.site:8884"), each a name or
    // an address with its own port or `port`.
    QString host;
    int port = 1883;
    QString id; // this panel's name in the topics; the machine's name when not set
    bool tls = false;
    QString caFile; // with TLS: the broker's certificate authority; the system's when empty
    QString user;
    QString passwordFile;       // the password's file, readable by its owner only
    bool plain = false;         // "sem cifra": a broker on another machine without TLS, chosen knowingly
    QString name;               // what a control room calls this panel ("Curva 3"); the id when empty
    QString group;              // the control room's group of posts it belongs to ("Sector 3"); none when empty
    bool homeAssistant = false; // announced to Home Assistant's MQTT discovery

    [[nodiscard]] bool enabled() const { return !host.isEmpty(); }
    [[nodiscard]] QString displayName() const { return name.isEmpty() ? id : name; }
    friend bool operator==(const MqttSettings&, const MqttSettings&) = default;
};

// One of the brokers `host` names, with its port.
struct BrokerAddress {
    QString host;
    int port = 0;
    friend bool operator==(const BrokerAddress&, const BrokerAddress&) = default;
};
// The brokers `host` names, in order; a name or address, "[v6]:port" or "name:port", `port` for
// those without one. nullopt, with `problem` said, when an entry is empty or its port is not 1
// to 65535.
[[nodiscard]] std::optional<std::vector<BrokerAddress>> brokerAddresses(const MqttSettings& mqtt, QString* problem = nullptr);

// A broker on this machine needs no encryption; any other one does, unless "sem cifra" is set.
// This machine is a literal loopback address (127.0.0.0/8, ::1), or localhost when everything it
// resolves to is one; the address to connect to is the one that was checked.
[[nodiscard]] std::optional<QString> loopbackAddress(const QString& host);
[[nodiscard]] bool isLocalHost(const QString& host);
// How a problem names the settings: as the keys of painel-sinaletico.conf, or as the fields of
// "Mais opções…".
enum class SettingNames { FileKeys, DialogFields };
// What is wrong with these settings for a connection, or nullopt: the id must be a topic level
// of letters, digits, '-' and '_'; a broker elsewhere needs TLS or "sem cifra".
[[nodiscard]] std::optional<QString> mqttSettingsProblem(const MqttSettings& mqtt, SettingNames names = SettingNames::FileKeys);
// Why a password file may not be used, or nullopt: it must be a regular file of this user's that
// nobody else can read or write.
[[nodiscard]] std::optional<QString> passwordFileProblem(const QString& fileName);

// Settings beyond the three of pref.vyr, which keeps exactly its three lines: they live in
// painel-sinaletico.conf beside it (INI). Each is off or at its default unless set.
struct MoreSettings {
    static constexpr int maxKeepAliveSeconds = 3600;
    // The chosen sign is sent again this often; 0 is off.
    int keepAliveSeconds = 0;
    static constexpr int minRetentionDays = 1;
    static constexpr int maxRetentionDays = Journal::maxRetentionDays;
    // Journal entries older than this are removed at start-up.
    int retentionDays = 365;
    static constexpr int minJournalMb = 1;
    static constexpr int maxJournalMb = 1'000'000;
    // Past this size the journal's oldest entries go first.
    int journalMaxMb = 500;
    // The cable's echo on COM1 and COM2: every send checked against what comes back. Off, as the
    // port is then opened for writing only and nothing is read, as the panel never answers.
    std::array<bool, 2> echo{};
    // When race control is lost (the broker gone, or the control room's connection ended by its
    // last will): the sign kept, as ever, or "Parar" sent after safeDelaySeconds.
    enum class OnCentralLost { Keep, Stop };
    OnCentralLost onCentralLost = OnCentralLost::Keep;
    static constexpr int minSafeDelaySeconds = 1;
    static constexpr int maxSafeDelaySeconds = 3600;
    int safeDelaySeconds = 10;
    // What a sign chosen for a while gives way to when its time is up.
    Sign baseSign = Sign::Stop;
    MqttSettings mqtt;
    // Why the file's [mqtt] was not used, when it was set but not safe or not understood.
    QString mqttRefused;

    friend bool operator==(const MoreSettings&, const MoreSettings&) = default;
};

// The [mqtt] group of an INI file, as painel-sinaletico.conf and painel-central.conf both keep it.
// Settings that would open a way in, or that cannot be understood, are not used: the broker is
// then off, `refused` says why and `problems` has a line for the operator.
[[nodiscard]] MqttSettings readMqttSettings(const QSettings& file, QStringList* problems, QString* refused);
void writeMqttSettings(const MqttSettings& mqtt, QSettings& file);
// The machine's name as a topic level: "posto-3.pista" becomes "posto-3-pista".
[[nodiscard]] QString machineId();

// The file beside the preferences file.
[[nodiscard]] QString moreSettingsPath(const QString& preferencesFile);

// A missing file or key gives the default; a bad value gives the default and a line in
// `problems`, for the operator. Never fails.
[[nodiscard]] MoreSettings readMoreSettings(const QString& fileName, QStringList* problems = nullptr);
// nullopt on success, otherwise the system's reason; the old file is kept on failure.
[[nodiscard]] std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName);
// Writes port `port`'s cable echo alone, the file's other lines as they stand.
[[nodiscard]] std::optional<QString> writeEchoSetting(std::int16_t port, bool on, const QString& fileName);
