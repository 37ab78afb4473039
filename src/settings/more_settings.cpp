// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/more_settings.h"

#include "serial/port_devices.h"
#include "signs/sign_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>

#include <algorithm>
#include <array>

#ifdef Q_OS_WIN
#include <ws2tcpip.h>
// After ws2tcpip.h, which brings windows.h in the order it needs.
#include <aclapi.h>
#include <memory>
#include <sddl.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_WIN
// This process's user, as the security identifier Windows compares.
QByteArray currentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    QByteArray buffer(256, Qt::Uninitialized);
    DWORD size = 0;
    const bool known = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
    CloseHandle(token);
    if (!known) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    return QByteArray(static_cast<const char*>(sid), static_cast<qsizetype>(GetLengthSid(sid)));
}

// An account as the operator knows it ("PC\maria"), or its identifier when it has no name here.
QString sidName(PSID sid)
{
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use{};
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return domainSize > 0 ? QString::fromWCharArray(domain) + QLatin1Char('\\') + QString::fromWCharArray(name) : QString::fromWCharArray(name);
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return QStringLiteral("outro utilizador");
    const QString named = QString::fromWCharArray(text);
    LocalFree(text);
    return named;
}
#endif

const QString keepAliveKey = QStringLiteral("keepalive/interval_s");
const QString retentionKey = QStringLiteral("journal/retention_days");
const QString journalSizeKey = QStringLiteral("journal/max_mb");
const QString mqttGroup = QStringLiteral("mqtt/");
const QString onCentralLostKey = QStringLiteral("seguranca/ao_perder_central");
const QString safeDelayKey = QStringLiteral("seguranca/apos_s");
const QString baseSignKey = QStringLiteral("posto/sinal_base");
const QString echoGroup = QStringLiteral("eco/");

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
} // namespace

namespace {

// Every address `host` stands for, as text; only literal addresses unless `resolve`.
QStringList addressesOf(const QString& host, bool resolve)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = resolve ? 0 : AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0) return {};
    QStringList addresses;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = a->ai_family == AF_INET ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr)
                                                  : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
        if ((a->ai_family == AF_INET || a->ai_family == AF_INET6) && ::inet_ntop(a->ai_family, raw, text, sizeof text) != nullptr)
            addresses << QString::fromLatin1(text);
    }
    ::freeaddrinfo(found);
    return addresses;
}

// `address` as inet_ntop writes it: IPv4 in four decimal parts, IPv6 with colons.
bool isLoopbackAddress(const QString& address)
{
    return address == QLatin1String("::1") || (address.startsWith(QLatin1String("127.")) && !address.contains(QLatin1Char(':')));
}

} // namespace

std::optional<QString> loopbackAddress(const QString& host)
{
    QString h = host.trimmed().toLower();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']'))) h = h.mid(1, h.size() - 2);
    // A name is never taken for an address because of how it starts ("127.example.org"): only
    // what parses as an address, or localhost when all it resolves to is this machine.
    const QStringList addresses = addressesOf(h, h == QLatin1String("localhost"));
    if (addresses.isEmpty() || !std::all_of(addresses.begin(), addresses.end(), isLoopbackAddress)) return std::nullopt;
    // IPv4 first: most brokers listen there, and a client given one address has no other to try.
    const auto v4 = std::find_if(addresses.begin(), addresses.end(), [](const QString& a) { return !a.contains(QLatin1Char(':')); });
    return v4 != addresses.end() ? *v4 : addresses.front();
}

bool isLocalHost(const QString& host) { return loopbackAddress(host).has_value(); }

std::optional<std::vector<BrokerAddress>> brokerAddresses(const MqttSettings& mqtt, QString* problem)
{
    std::vector<BrokerAddress> brokers;
    for (const QString& part : mqtt.host.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        BrokerAddress broker{entry, mqtt.port};
        // "name:port" and "[v6]:port" carry their own port; a bare IPv6 address has colons of its own.
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        const bool bracketed = entry.startsWith(QLatin1Char('['));
        if (colon > 0 && (bracketed ? entry.at(colon - 1) == QLatin1Char(']') : entry.count(QLatin1Char(':')) == 1)) {
            bool number = false;
            broker.port = entry.mid(colon + 1).toInt(&number);
            if (!number || broker.port < 1 || broker.port > 65535) {
                if (problem) *problem = QStringLiteral("o broker \"%1\" não serve: a porta vai de 1 a 65535").arg(entry);
                return std::nullopt;
            }
            broker.host = entry.left(colon);
        }
        if (bracketed && broker.host.endsWith(QLatin1Char(']'))) broker.host = broker.host.mid(1, broker.host.size() - 2);
        if (broker.host.isEmpty()) {
            if (problem) *problem = QStringLiteral("a lista de brokers \"%1\" tem um lugar vazio").arg(mqtt.host);
            return std::nullopt;
        }
        brokers.push_back(broker);
    }
    return brokers;
}

std::optional<QString> mqttSettingsProblem(const MqttSettings& mqtt, SettingNames names)
{
    if (!mqtt.enabled()) return std::nullopt;
    const bool file = names == SettingNames::FileKeys;
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (!idPattern.match(mqtt.id).hasMatch())
        return QStringLiteral("%1 \"%2\" não serve: só letras, algarismos, - e _ (até 64)")
            .arg(file ? QStringLiteral("mqtt/id") : QStringLiteral("a identificação"), mqtt.id);
    QString listProblem;
    const auto brokers = brokerAddresses(mqtt, &listProblem);
    if (!brokers) return listProblem;
    // Every broker of the list under the same rule: the second is as trusted as the first.
    for (const BrokerAddress& broker : *brokers)
        if (!mqtt.tls && !mqtt.plain && !isLocalHost(broker.host))
            return QStringLiteral("o broker %1 não está nesta máquina: %2")
                .arg(broker.host, file ? QStringLiteral("ponha tls=true, ou sem_cifra=true sabendo o que quer dizer")
                                       : QStringLiteral("marque \"Cifrar com TLS\", ou \"Sem cifra\" sabendo o que quer dizer"));
    if (mqtt.tls && !mqtt.caFile.isEmpty() && !QFileInfo(mqtt.caFile).isFile())
        return QStringLiteral("o ficheiro %1 não existe (%2)")
            .arg(mqtt.caFile, file ? QStringLiteral("mqtt/ca_file") : QStringLiteral("o certificado da autoridade"));
    return std::nullopt;
}

std::optional<QString> passwordFileProblem(const QString& fileName)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(fileName).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return QStringLiteral("o ficheiro da palavra-passe %1 não existe").arg(fileName);
    // Whose it is comes first: the mode of a file that is not the user's is not the user's to fix.
    if (info.st_uid != ::getuid()) {
        return QStringLiteral("o ficheiro da palavra-passe %1 é de %2, não deste utilizador: use um ficheiro seu").arg(fileName, userName(info.st_uid));
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("o ficheiro da palavra-passe %1 pode ser lido por outros (chmod 600 %1)").arg(fileName);
#elif defined(Q_OS_WIN)
    if (!QFileInfo(fileName).isFile()) return QStringLiteral("o ficheiro da palavra-passe %1 não existe").arg(fileName);
    // Windows' meaning of "its owner's alone": the file is the user's and its access list lets
    // nobody in but the user and the system itself (not Administrators, not Everyone).
    PSID owner = nullptr;
    PACL access = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring path = QDir::toNativeSeparators(fileName).toStdWString();
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &access, nullptr,
                              &descriptor)
        != ERROR_SUCCESS)
        return QStringLiteral("o ficheiro da palavra-passe %1 não se pode ler").arg(fileName);
    const std::unique_ptr<void, decltype(&LocalFree)> freeDescriptor(descriptor, &LocalFree);
    const QByteArray user = currentUserSid();
    if (user.isEmpty() || !EqualSid(owner, const_cast<char*>(user.constData())))
        return QStringLiteral("o ficheiro da palavra-passe %1 é de %2, não deste utilizador: use um ficheiro seu").arg(fileName, sidName(owner));
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize);
    bool others = access == nullptr; // no list at all lets everyone in
    for (DWORD index = 0; !others && index < access->AceCount; ++index) {
        ACE_HEADER* entry = nullptr;
        if (!GetAce(access, index, reinterpret_cast<void**>(&entry)) || entry->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        // Every other kind of entry grants something; allowed ones say to whom.
        if (entry->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            others = true;
            break;
        }
        PSID whom = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        others = !EqualSid(whom, const_cast<char*>(user.constData())) && !EqualSid(whom, system);
    }
    if (others)
        return QStringLiteral("o ficheiro da palavra-passe %1 pode ser lido por outros (icacls \"%2\" /inheritance:r /grant:r \"%3\":R)")
            .arg(fileName, QDir::toNativeSeparators(fileName), qEnvironmentVariable("USERNAME"));
#else
    if (!QFileInfo(fileName).isFile()) return QStringLiteral("o ficheiro da palavra-passe %1 não existe").arg(fileName);
#endif
    return std::nullopt;
}

QString machineId() { return QSysInfo::machineHostName().replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("-")).left(64); }

QString moreSettingsPath(const QString& preferencesFile) { return QFileInfo(preferencesFile).absolutePath() + QStringLiteral("/painel-sinaletico.conf"); }

MoreSettings readMoreSettings(const QString& fileName, QStringList* problems)
{
    MoreSettings settings;
    settings.mqtt.id = machineId();
    if (!QFileInfo(fileName).isFile()) return settings;
    const QSettings file(fileName, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (problems) *problems << QStringLiteral("%1 não se pode ler; valem os valores de origem.").arg(QDir::toNativeSeparators(fileName));
        return settings;
    }
    readNumber(file, keepAliveKey, 0, MoreSettings::maxKeepAliveSeconds, QStringLiteral("fica desligado"), settings.keepAliveSeconds, problems);
    readNumber(file, retentionKey, MoreSettings::minRetentionDays, MoreSettings::maxRetentionDays,
               QStringLiteral("guarda-se %1 dias").arg(settings.retentionDays), settings.retentionDays, problems);
    readNumber(file, journalSizeKey, MoreSettings::minJournalMb, MoreSettings::maxJournalMb,
               QStringLiteral("o registo vai até %1 MB").arg(settings.journalMaxMb), settings.journalMaxMb, problems);
    // Exactly true or false, like the file's other flags: anything else leaves the echo off.
    for (std::size_t port = 0; port < settings.echo.size(); ++port) {
        const QString key = echoGroup + QStringLiteral("com%1").arg(port + 1);
        const QString value = file.value(key).toString().trimmed();
        if (value == QLatin1String("true") || value == QLatin1String("1")) settings.echo[port] = true;
        else if (file.contains(key) && value != QLatin1String("false") && value != QLatin1String("0") && problems)
            *problems << QStringLiteral("%1 = \"%2\" não se entende: só true ou false; o eco do cabo fica desligado.").arg(key, value);
    }
    const QString onLost = file.value(onCentralLostKey).toString().trimmed();
    if (onLost == QLatin1String("parar")) settings.onCentralLost = MoreSettings::OnCentralLost::Stop;
    else if (file.contains(onCentralLostKey) && onLost != QLatin1String("manter") && problems)
        *problems << QStringLiteral("%1 = \"%2\" não se entende: só manter ou parar; o posto mantém o sinal.").arg(onCentralLostKey, onLost);
    readNumber(file, safeDelayKey, MoreSettings::minSafeDelaySeconds, MoreSettings::maxSafeDelaySeconds,
               QStringLiteral("vale %1 s").arg(settings.safeDelaySeconds), settings.safeDelaySeconds, problems);
    if (file.contains(baseSignKey)) {
        const QString name = file.value(baseSignKey).toString().trimmed();
        if (const auto sign = signFromName(name)) settings.baseSign = *sign;
        else if (problems) *problems << QStringLiteral("%1: %2; vale Parar.").arg(baseSignKey, notASignText(name));
    }
    settings.mqtt = readMqttSettings(file, problems, &settings.mqttRefused);
    return settings;
}

MqttSettings readMqttSettings(const QSettings& file, QStringList* problems, QString* refused)
{
    MqttSettings mqtt;
    mqtt.id = machineId();
    // An INI value with a comma and no quotes is a list to QSettings, and toString() would make it
    // nothing: a list of brokers, or a name such as "Curva 3, Sector 2", is read as written.
    const auto text = [&](const char* key) {
        const QVariant value = file.value(mqttGroup + QLatin1String(key));
        return (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QStringLiteral(", ")) : value.toString()).trimmed();
    };
    // A flag is exactly true or false (or 1 or 0): "no" or "off" read as anything else could
    // switch encryption off behind the operator's back.
    QString badFlag;
    const auto flag = [&](const char* key) {
        const QString value = text(key);
        if (value == QLatin1String("true") || value == QLatin1String("1")) return true;
        if (!value.isEmpty() && value != QLatin1String("false") && value != QLatin1String("0") && badFlag.isEmpty())
            badFlag = QStringLiteral("%1%2 = \"%3\" não se entende: só true ou false").arg(mqttGroup, QLatin1String(key), value);
        return false;
    };
    mqtt.host = text("host");
    readNumber(file, mqttGroup + QStringLiteral("port"), 1, 65535, QStringLiteral("vale 1883"), mqtt.port, problems);
    if (file.contains(mqttGroup + QStringLiteral("id"))) mqtt.id = text("id");
    mqtt.tls = flag("tls");
    mqtt.caFile = text("ca_file");
    mqtt.user = text("user");
    mqtt.passwordFile = text("password_file");
    mqtt.plain = flag("sem_cifra");
    mqtt.name = text("nome").left(MqttSettings::maxNameChars);
    mqtt.group = text("grupo").left(MqttSettings::maxNameChars);
    mqtt.homeAssistant = flag("home_assistant");
    const auto problem = badFlag.isEmpty() ? mqttSettingsProblem(mqtt) : std::optional(badFlag);
    if (!problem) return mqtt;
    if (problems) *problems << *problem + (mqtt.enabled() ? QStringLiteral(": o MQTT fica desligado.") : QStringLiteral("."));
    if (mqtt.enabled() && refused) *refused = *problem;
    mqtt.host.clear();
    return mqtt;
}

void writeMqttSettings(const MqttSettings& mqtt, QSettings& file)
{
    const std::array<std::pair<const char*, QVariant>, 11> values{{{"host", mqtt.host},
                                                                   {"port", mqtt.port},
                                                                   {"id", mqtt.id},
                                                                   {"nome", mqtt.name},
                                                                   {"grupo", mqtt.group},
                                                                   {"tls", mqtt.tls},
                                                                   {"ca_file", mqtt.caFile},
                                                                   {"user", mqtt.user},
                                                                   {"password_file", mqtt.passwordFile},
                                                                   {"sem_cifra", mqtt.plain},
                                                                   {"home_assistant", mqtt.homeAssistant}}};
    for (const auto& [key, value] : values) file.setValue(mqttGroup + QLatin1String(key), value);
}

namespace {
QString echoKey(std::size_t port) { return echoGroup + QStringLiteral("com%1").arg(port + 1); }
QString echoValue(bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); }
std::optional<QString> synced(QSettings& file, const QString& fileName)
{
    file.sync();
    if (file.status() != QSettings::NoError) return QStringLiteral("não foi possível escrever %1").arg(QDir::toNativeSeparators(fileName));
    return std::nullopt;
}
} // namespace

std::optional<QString> writeEchoSetting(std::int16_t port, bool on, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(echoKey(static_cast<std::size_t>(port - 1)), echoValue(on));
    return synced(file, fileName);
}

std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(keepAliveKey, settings.keepAliveSeconds);
    file.setValue(retentionKey, settings.retentionDays);
    file.setValue(journalSizeKey, settings.journalMaxMb);
    for (std::size_t port = 0; port < settings.echo.size(); ++port) file.setValue(echoKey(port), echoValue(settings.echo[port]));
    file.setValue(onCentralLostKey, settings.onCentralLost == MoreSettings::OnCentralLost::Stop ? QStringLiteral("parar") : QStringLiteral("manter"));
    file.setValue(safeDelayKey, settings.safeDelaySeconds);
    file.setValue(baseSignKey, signCaption(settings.baseSign));
    writeMqttSettings(settings.mqtt, file);
    return synced(file, fileName);
}
