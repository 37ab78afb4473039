#include "prefs/preferences_file.h"

#include "panel/port_devices.h"
#include "prefs/preferences_format.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString preferencesPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\pref.vyr");
#else
    return configFolder() + QStringLiteral("/pref.vyr");
#endif
}

std::string ReadTextFile(const QString& fileName, bool& errFlag)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        errFlag = true;
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        errFlag = true;
        return {};
    }
    errFlag = false;
    return bytes.toStdString();
}

void readPreferences(PanelSettings& settings)
{
    settings = PanelSettings{};
    bool errFlag = false;
    const std::string text = ReadTextFile(preferencesPath(), errFlag);
    if (errFlag) return;
    settings = parsePreferences(text);
}

std::optional<QString> writePreferences(const PanelSettings& settings)
{
    const QString path = preferencesPath();
    // A folder that cannot be made shows up as the save file's own failure to open, which
    // carries the system's reason; mkpath gives none.
    QDir().mkpath(QFileInfo(path).absolutePath());

    // Binary mode: the line ends are CR LF on every platform already. Unbuffered, so that a
    // write cut short says so at once, and the next one carries the system's reason; a
    // buffered flush that fails part-way reports none.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return file.errorString();

    // commit() alone may rename a short temporary file over the old one when the disk fills
    // up, so every write and the flush are checked first.
    const std::string bytes = formatPreferences(settings);
    const auto size = static_cast<qint64>(bytes.size());
    qint64 written = 0;
    while (written < size) {
        const qint64 n = file.write(bytes.data() + written, size - written);
        if (n <= 0) break;
        written += n;
    }
    if (written != size || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        (void)file.commit(); // discards the temporary file
        return reason;
    }
    if (!file.commit()) return file.errorString();
    return std::nullopt;
}
