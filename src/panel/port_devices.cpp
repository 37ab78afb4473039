#include "panel/port_devices.h"

#include <QFileInfo>
#include <QStandardPaths>

QString configFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/painel-sinaletico");
}

QString deviceForPort(std::int16_t number)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const QFileInfo link(configFolder() + QStringLiteral("/com%1").arg(number));
    // A dangling link must fail to open rather than fall back: the fallback may be another
    // device altogether.
    if (link.isSymLink() || link.exists()) {
        const QString target = link.canonicalFilePath();
        return target.isEmpty() ? link.absoluteFilePath() : target;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}
