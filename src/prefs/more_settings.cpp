#include "prefs/more_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString keepAliveKey = QStringLiteral("keepalive/interval_s");
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
    if (file.contains(keepAliveKey)) {
        bool number = false;
        const QString text = file.value(keepAliveKey).toString().trimmed();
        const int seconds = text.toInt(&number);
        if (number && seconds >= 0 && seconds <= MoreSettings::maxKeepAliveSeconds) settings.keepAliveSeconds = seconds;
        else if (problems)
            *problems << QStringLiteral("%1 = \"%2\" não é um número de 0 a %3: fica desligado.")
                             .arg(keepAliveKey, text)
                             .arg(MoreSettings::maxKeepAliveSeconds);
    }
    return settings;
}

std::optional<QString> writeMoreSettings(const MoreSettings& settings, const QString& fileName)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(keepAliveKey, settings.keepAliveSeconds);
    file.sync();
    if (file.status() != QSettings::NoError) return QStringLiteral("não foi possível escrever %1").arg(QDir::toNativeSeparators(fileName));
    return std::nullopt;
}
