// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/preferences_file.h"

#include "settings/preferences_format.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif

QString preferencesPath(const QString& configFolder) { return configFolder + QStringLiteral("/pref.vyr"); }

QString legacyPreferencesPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:/pref.vyr");
#else
    return {};
#endif
}

QString preferencesToRead(const QString& path, const QString& legacy)
{
    if (legacy.isEmpty() || QFileInfo::exists(path) || !QFileInfo(legacy).isFile()) return path;
    return legacy;
}

std::string ReadTextFile(const QString& fileName, bool& errFlag)
{
    errFlag = true;
    QFile file(fileName);
#ifdef Q_OS_UNIX
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer;
    // the kind of file is then taken from the open descriptor, not from the name.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0) return {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
#else
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly)) return {};
#endif
    // One byte more than allowed tells a file that is too long, however long it is.
    const QByteArray bytes = file.read(maxPreferencesBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > maxPreferencesBytes) return {};
    errFlag = false;
    return bytes.toStdString();
}

void readPreferences(PanelSettings& settings, const QString& fileName)
{
    settings = PanelSettings{};
    bool errFlag = false;
    const std::string text = ReadTextFile(fileName, errFlag);
    if (errFlag) return;
    settings = parsePreferences(text);
}

void removeStaleTemporaries(const QString& fileName)
{
    // QSaveFile names its temporary after the file with six characters added: "pref.vyr.AbC123".
    const QFileInfo file(fileName);
    const QDateTime minuteAgo = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& left : QDir(file.absolutePath()).entryInfoList({file.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden))
        if (left.lastModified() < minuteAgo) QFile::remove(left.absoluteFilePath());
}

std::optional<QString> writePreferences(const PanelSettings& settings, const QString& path)
{
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
