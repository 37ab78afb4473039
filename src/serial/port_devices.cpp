// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_devices.h"

#include "serial/port_claim.h"

#include "panel/line_error.h"
#include "panel/port_settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <QSysInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

QString linkPath(std::int16_t number) { return configFolder() + QStringLiteral("/com%1").arg(number); }

QString systemError(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

#ifdef Q_OS_UNIX

QString processName(qint64 pid, const QString& fallback)
{
    QString name = processCommand(pid);
    if (name.isEmpty()) name = fallback.isEmpty() ? QStringLiteral("outro programa") : fallback;
    return QStringLiteral("%1 (processo %2)").arg(name).arg(pid);
}

bool isAlive(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// The UUCP lock files that name `device` ("LCK..ttyUSB0", "LCK..pts_3"), wherever Qt and the
// programs of the tradition (minicom, lockdev) may have put them.
QStringList lockFilesOf(const QString& device)
{
    QString base = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : QFileInfo(device).fileName();
    const QString lockName = QStringLiteral("LCK..") + base.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList files;
    for (const QString& folder : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/etc/locks"), QStringLiteral("/var/spool/locks"),
                                  QStringLiteral("/var/spool/uucp"), QDir::tempPath(), QStringLiteral("/var/tmp"), QStringLiteral("/var/lock/lockdev")})
        if (QFileInfo::exists(folder + QLatin1Char('/') + lockName)) files << folder + QLatin1Char('/') + lockName;
    return files;
}

// Who holds a lock file, as its writer put it: the HDB format ("%10d\n", minicom and lockdev),
// Qt's ("pid\napplication\nhost\n") or the old binary one (four bytes). A file from another host
// is held whatever its pid; nullopt when the file says nothing of a holder (empty, unreadable).
struct LockInfo {
    qint64 pid = 0;
    QString application;
    bool otherHost = false;
};
std::optional<LockInfo> readLock(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.read(256);
    LockInfo info;
    if (bytes.size() == 4 && !std::all_of(bytes.begin(), bytes.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == ' '; })) {
        std::int32_t binary = 0;
        std::memcpy(&binary, bytes.constData(), sizeof binary);
        info.pid = binary;
    } else {
        const QList<QByteArray> lines = bytes.split('\n');
        bool number = false;
        info.pid = lines.value(0).trimmed().toLongLong(&number);
        if (!number) return std::nullopt;
        info.application = QString::fromLocal8Bit(lines.value(1).trimmed());
        const QByteArray host = lines.value(2).trimmed();
        info.otherHost = !host.isEmpty() && host != QSysInfo::machineHostName().toLocal8Bit();
    }
    if (info.pid <= 0) return std::nullopt;
    return info;
}

// The live holder of `device`'s lock, as "minicom (processo 812)". A lock whose process has
// gone, or an empty one (its writer was killed before it wrote), is stale: it is removed, as
// nobody holds the port by it.
std::optional<QString> liveLockHolder(const QString& device)
{
    for (const QString& fileName : lockFilesOf(device)) {
        const std::optional<LockInfo> lock = readLock(fileName);
        if (lock && (lock->otherHost || isAlive(lock->pid))) return processName(lock->pid, lock->application);
        if (lock || QFileInfo(fileName).size() == 0) QFile::remove(fileName);
    }
    return std::nullopt;
}

// The index of the pseudo-terminal whose master descriptor `fd` of process `pid` is, or -1.
int masterIndex(const QString& pid, const QString& fd)
{
    QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid, fd));
    if (!info.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : info.readAll().split('\n'))
        if (line.startsWith("tty-index:")) return line.mid(10).trimmed().toInt();
    return -1;
}

// The program that holds `device`: first by its lock file, then by whoever has it open. This
// program never holds the port outside an open, so its own descriptors are not the cause; nor is
// the far end of a pseudo-terminal (the virtual panel keeps its slave open beside the master).
std::optional<QString> holderOf(const QString& device)
{
    if (const auto holder = liveLockHolder(device)) return holder;
    for (const DeviceUser& user : processesUsing(device))
        if (!user.farEnd) return processName(user.pid, {});
    return std::nullopt;
}
#endif

} // namespace

#ifdef Q_OS_UNIX
bool isSerialDevice(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = ::major(st.st_rdev);
    // 5: the controlling terminal, the console and the multiplexer (/dev/ptmx, whose every open
    // makes a new pseudo-terminal that nobody reads); 2: the old BSD masters.
    if (major == 5 || major == 2) return false;
    if (major >= 136 && major <= 143) return true; // pseudo-terminal slaves
    const QFileInfo subsystem(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(::minor(st.st_rdev)));
    return QFileInfo(subsystem.symLinkTarget()).fileName() == QLatin1String("tty");
}

std::vector<DeviceUser> processesUsing(const QString& device)
{
    bool isPtySlave = false;
    const int ptyIndex = device.startsWith(QLatin1String("/dev/pts/")) ? device.mid(9).toInt(&isPtySlave) : -1;
    std::vector<DeviceUser> users;
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString folder = processes.next();
        bool isPid = false;
        const qint64 pid = processes.fileName().toLongLong(&isPid);
        if (!isPid || pid == ::getpid()) continue;
        bool holds = false, farEnd = false;
        QDirIterator fds(folder + QStringLiteral("/fd"), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        while (fds.hasNext()) {
            const QString target = QFileInfo(fds.next()).symLinkTarget();
            holds = holds || target == device;
            if (isPtySlave && target.endsWith(QLatin1String("ptmx"))) farEnd = farEnd || masterIndex(processes.fileName(), fds.fileName()) == ptyIndex;
        }
        if (holds) users.push_back({pid, farEnd});
    }
    return users;
}

QString userName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
}

QString processCommand(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}
#endif

std::optional<OpenRefusal> refuseOpen(const PortBinding& binding)
{
#ifdef Q_OS_UNIX
    if (!binding.present) return std::nullopt; // the open itself says it is missing
    if (!isSerialDevice(binding.device))
        return OpenRefusal{LineError::HardwareNotAvailable, QStringLiteral("%1 não é um dispositivo série").arg(binding.device)};
    // Qt SerialPort takes any lock it did not write for stale and deletes it: another program's
    // port would be taken from under it.
    if (const auto holder = liveLockHolder(binding.device))
        return OpenRefusal{LineError::PortAlreadyOpen, QStringLiteral("%1 está em uso por %2").arg(binding.device, *holder)};
    // The post without a screen, or the desk program, drives this panel already.
    if (const auto holder = PortClaim::holderOf(binding.device))
        return OpenRefusal{LineError::PortAlreadyOpen, QStringLiteral("%1 é o painel de %2").arg(binding.device, *holder)};
#else
    Q_UNUSED(binding);
#endif
    return std::nullopt;
}

QString configFolder()
{
#ifdef Q_OS_WIN
    // %APPDATA%, where Windows keeps what follows a user from one computer to the next.
    return QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA")) + QStringLiteral("/painel-sinaletico");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/painel-sinaletico");
#endif
}

QString comName(std::int16_t number) { return QString::fromStdString(portName(number)); }

PortBinding portBinding(std::int16_t number)
{
    PortBinding binding;
#ifdef Q_OS_WIN
    binding.device = comName(number);
    binding.present = !QSerialPortInfo(binding.device).isNull();
#else
    const QFileInfo link(linkPath(number));
    // A dangling link must fail to open rather than fall back: the fallback may be another
    // device altogether.
    if (link.isSymLink() || link.exists()) {
        binding.link = link.absoluteFilePath();
        binding.target = link.isSymLink() ? link.symLinkTarget() : binding.link;
        const QString device = link.canonicalFilePath();
        binding.present = !device.isEmpty();
        binding.device = binding.present ? device : binding.link;
    } else {
        binding.device = QStringLiteral("/dev/ttyS%1").arg(number - 1);
        binding.present = QFileInfo::exists(binding.device);
    }
#endif
    return binding;
}

QString deviceForPort(std::int16_t number) { return portBinding(number).device; }

std::pair<QString, QString> portAndDevice(int number)
{
    const auto n = static_cast<std::int16_t>(number);
    return {comName(n), deviceForPort(n)};
}

QString stableNameOf(const QString& device, const QString& folder)
{
    const QString wanted = QFileInfo(device).canonicalFilePath();
    if (wanted.isEmpty()) return {};
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QFileInfo entry(folder + QLatin1Char('/') + name);
        if (entry.canonicalFilePath() == wanted) return entry.absoluteFilePath();
    }
    return {};
}

std::optional<QString> bindPort(std::int16_t number, const QString& device, const QString& stableFolder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(number);
    Q_UNUSED(device);
    Q_UNUSED(stableFolder);
    return QStringLiteral("No Windows, COM1 e COM2 são as portas do sistema.");
#else
    const QString path = device.trimmed();
    if (path.isEmpty()) return QStringLiteral("Escolha uma porta da lista ou escreva o caminho de um dispositivo.");
    const QFileInfo info(path);
    if (!info.exists()) return QStringLiteral("%1 não existe.").arg(path);
    if (info.isDir()) return QStringLiteral("%1 é uma pasta, não um dispositivo série.").arg(path);
    if (!isSerialDevice(info.canonicalFilePath())) return QStringLiteral("%1 não é um dispositivo série.").arg(path);

    const QString link = linkPath(number);
    const QFileInfo existing(link);
    if (!existing.isSymLink() && existing.exists()) return QStringLiteral("%1 não é uma ligação e ficou como estava.").arg(link);
    if (!QDir().mkpath(configFolder())) return QStringLiteral("Não foi possível criar a pasta %1.").arg(configFolder());

    QString target = stableNameOf(path, stableFolder);
    if (target.isEmpty()) target = info.absoluteFilePath();
    if (const auto reason = replaceLink(link, target)) return QStringLiteral("Não foi possível ligar %1: %2").arg(comName(number), *reason);
    return std::nullopt;
#endif
}

std::optional<QString> replaceLink(const QString& link, const QString& target)
{
#ifdef Q_OS_WIN
    Q_UNUSED(link);
    Q_UNUSED(target);
    return QStringLiteral("sem ligações simbólicas neste sistema");
#else
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(fresh).constData()) != 0
        || ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) != 0) {
        const QString reason = systemError(errno);
        QFile::remove(fresh);
        return reason;
    }
    return std::nullopt;
#endif
}

std::optional<QString> unbindPort(std::int16_t number)
{
    const QFileInfo link(linkPath(number));
    if (!link.isSymLink()) {
        if (link.exists()) return QStringLiteral("%1 não é uma ligação e ficou como estava.").arg(link.absoluteFilePath());
        return QStringLiteral("%1 não tem ligação.").arg(comName(number));
    }
    if (!QFile::remove(link.absoluteFilePath())) return QStringLiteral("Não foi possível remover %1: %2").arg(link.absoluteFilePath(), systemError(errno));
    return std::nullopt;
}

QString portDescription(std::int16_t number)
{
    const PortBinding binding = portBinding(number);
    if (!binding.present) return QStringLiteral("sem dispositivo");
    const QString description = QSerialPortInfo(binding.device).description();
    return description.isEmpty() ? binding.device : QStringLiteral("%1 (%2)").arg(binding.device, description);
}

QString openFailureReason(const PortBinding& binding, const QString& systemText, bool reading)
{
    const QString& device = binding.device;
    if (!binding.present) {
        if (!binding.link.isEmpty()) return QStringLiteral("adaptador desligado? %1 aponta para %2, que não existe").arg(binding.link, binding.target);
        return QStringLiteral("%1 não existe").arg(device);
    }
#ifdef Q_OS_UNIX
    if (!isSerialDevice(device)) return QStringLiteral("%1 não é um dispositivo série").arg(device);
    // The port is opened for writing only, unless it reads the cable's echo too: those are the
    // permissions that count.
    if (::access(QFile::encodeName(device).constData(), W_OK | (reading ? R_OK : 0)) != 0 && errno == EACCES) {
        struct stat st {};
        ::stat(QFile::encodeName(device).constData(), &st);
        // Only the way in that could work is worth naming: the owner's bits for the owner, the
        // group's when the group may open it, otherwise nobody but its owner can.
        if (st.st_uid == ::getuid())
            return QStringLiteral("sem permissão para abrir %1, que é seu mas cujas permissões o impedem: chmod %2 %1")
                .arg(device, reading ? QStringLiteral("u+rw") : QStringLiteral("u+w"));
        if (const mode_t needed = S_IWGRP | (reading ? S_IRGRP : 0); (st.st_mode & needed) == needed) {
            const group* g = ::getgrgid(st.st_gid);
            const QString name = g != nullptr ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
            return QStringLiteral("sem permissão para abrir %1, que é do grupo %2: junte o utilizador ao grupo %2 e volte a "
                                  "entrar na sessão")
                .arg(device, name);
        }
        return QStringLiteral("sem permissão para abrir %1: só %2 o pode abrir").arg(device, userName(st.st_uid));
    }
    if (const auto holder = holderOf(device)) return QStringLiteral("%1 está em uso por %2").arg(device, *holder);
    return QStringLiteral("%1: %2").arg(device, systemText);
#else
    // Windows gives a port to one program at a time and tells any other "access denied": that is
    // nearly always why a port that is there does not open.
    return QStringLiteral("%1 está em uso por outro programa, ou o acesso foi recusado (%2)").arg(device, systemText);
#endif
}

QString writeFailureReason(int errorNumber)
{
    if (errorNumber == EIO || errorNumber == ENXIO || errorNumber == ENODEV || errorNumber == EPIPE)
        return QStringLiteral("o dispositivo deixou de responder (adaptador desligado?)");
    return systemError(errorNumber);
}
