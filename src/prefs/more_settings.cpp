#include "prefs/more_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>

#include <array>

namespace {
const QString keepAliveKey = QStringLiteral("keepalive/interval_s");
const QString retentionKey = QStringLiteral("journal/retention_days");
const QString mqttGroup = QStringLiteral("mqtt/");

// A whole number within the limits replaces `value`; anything else leaves the default and says so.
void readNumber(const QSettings& file, const QString& key, int low, int high, const QString& fallback, int& value, QStringList* problems)
{
    if (!file.contains(key)) return;
    bool number = false;
    const QString text = file.value(key).toString().trimmed();
    const int read = text.toInt(&number);
    if (number && read >= low && read <= high) value = read;
    else if (problems) *problems << QStringLiteral("%1 = \"%2\" não é um número de %3 a %4: %5.").arg(key, text).arg(low).arg(high).arg(fallback);
}
}

bool isLocalHost(const QString& host)
{
    const QString h = host.trimmed().toLower();
    return h == QLatin1String("localhost") || h == QLatin1String("::1") || h == QLatin1String("[::1]") || h.startsWith(QLatin1String("127."));
}

std::optional<QString> mqttSettingsProblem(const MqttSettings& mqtt)
{
    if (!mqtt.enabled()) return std::nullopt;
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (!idPattern.match(mqtt.id).hasMatch())
        return QStringLiteral("mqtt/id \"%1\" não serve: só letras, algarismos, - e _ (até 64)").arg(mqtt.id);
    if (!mqtt.tls && !mqtt.plain && !isLocalHost(mqtt.host))
        return QStringLiteral("o broker %1 não está nesta máquina: é precisa TLS (mqtt/tls) ou a escolha expressa \"sem cifra\" (mqtt/sem_cifra)")
            .arg(mqtt.host);
    return std::nullopt;
}

QString moreSettingsPath(const QString& preferencesFile)
{
    return QFileInfo(preferencesFile).absolutePath() + QStringLiteral("/painel-sinaletico.conf");
}

MoreSettings readMoreSettings(const QString& fileName, QStringList* problems)
{
    MoreSettings settings;
    // The machine's name, as a topic level: "posto-3.pista" becomes "posto-3-pista".
    settings.mqtt.id = QSysInfo::machineHostName().replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("-")).left(64);
    if (!QFileInfo(fileName).isFile()) return settings;
    const QSettings file(fileName, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (problems) *problems << QStringLiteral("%1 não se pode ler; valem os valores de origem.").arg(QDir::toNativeSeparators(fileName));
        return settings;
    }
    readNumber(file, keepAliveKey, 0, MoreSettings::maxKeepAliveSeconds, QStringLiteral("fica desligado"), settings.keepAliveSeconds, problems);
    readNumber(file, retentionKey, MoreSettings::minRetentionDays, MoreSettings::maxRetentionDays,
               QStringLiteral("guarda-se %1 dias").arg(settings.retentionDays), settings.retentionDays, problems);
    MqttSettings& mqtt = settings.mqtt;
    const auto text = [&](const char* key) { return file.value(mqttGroup + QLatin1String(key)).toString().trimmed(); };
    const auto flag = [&](const char* key) { return QVariant(text(key)).toBool(); };
    mqtt.host = text("host");
    readNumber(file, mqttGroup + QStringLiteral("port"), 1, 65535, QStringLiteral("vale 1883"), mqtt.port, problems);
    if (file.contains(mqttGroup + QStringLiteral("id"))) mqtt.id = text("id");
    mqtt.tls = flag("tls");
    mqtt.caFile = text("ca_file");
    mqtt.user = text("user");
    mqtt.passwordFile = text("password_file");
    mqtt.plain = flag("sem_cifra");
    // Settings that would open a way in are not used at all.
    if (const auto problem = mqttSettingsProblem(mqtt)) {
        if (problems) *problems << *problem + QStringLiteral(": o MQTT fica desligado.");
        mqtt.host.clear();
    }
    return settings;
}

std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(keepAliveKey, settings.keepAliveSeconds);
    file.setValue(retentionKey, settings.retentionDays);
    const MqttSettings& mqtt = settings.mqtt;
    const std::array<std::pair<const char*, QVariant>, 8> values{{{"host", mqtt.host}, {"port", mqtt.port}, {"id", mqtt.id},
                                                                  {"tls", mqtt.tls}, {"ca_file", mqtt.caFile}, {"user", mqtt.user},
                                                                  {"password_file", mqtt.passwordFile}, {"sem_cifra", mqtt.plain}}};
    for (const auto& [key, value] : values) file.setValue(mqttGroup + QLatin1String(key), value);
    file.sync();
    if (file.status() != QSettings::NoError) return QStringLiteral("não foi possível escrever %1").arg(QDir::toNativeSeparators(fileName));
    return std::nullopt;
}
