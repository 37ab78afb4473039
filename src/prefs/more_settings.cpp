#include "prefs/more_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString keepAliveKey = QStringLiteral("keepalive/interval_s");
const QString retentionKey = QStringLiteral("journal/retention_days");

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

QString moreSettingsPath(const QString& preferencesFile)
{
    return QFileInfo(preferencesFile).absolutePath() + QStringLiteral("/painel-sinaletico.conf");
}

MoreSettings readMoreSettings(const QString& fileName, QStringList* problems)
{
    MoreSettings settings;
    if (!QFileInfo(fileName).isFile()) return settings;
    const QSettings file(fileName, QSettings::IniFormat);
    if (file.status() != QSettings::NoError) {
        if (problems) *problems << QStringLiteral("%1 não se pode ler; valem os valores de origem.").arg(QDir::toNativeSeparators(fileName));
        return settings;
    }
    readNumber(file, keepAliveKey, 0, MoreSettings::maxKeepAliveSeconds, QStringLiteral("fica desligado"), settings.keepAliveSeconds, problems);
    readNumber(file, retentionKey, MoreSettings::minRetentionDays, MoreSettings::maxRetentionDays,
               QStringLiteral("guarda-se %1 dias").arg(settings.retentionDays), settings.retentionDays, problems);
    return settings;
}

std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(keepAliveKey, settings.keepAliveSeconds);
    file.setValue(retentionKey, settings.retentionDays);
    file.sync();
    if (file.status() != QSettings::NoError) return QStringLiteral("não foi possível escrever %1").arg(QDir::toNativeSeparators(fileName));
    return std::nullopt;
}
