#include "panel/port_devices.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

QString linkPath(std::int16_t number) { return configFolder() + QStringLiteral("/com%1").arg(number); }

QString systemError(int errorNumber) { return QString::fromLocal8Bit(std::strerror(errorNumber)); }

#ifdef Q_OS_UNIX
// A terminal device that can carry a line: a serial port or an adapter (the kernel files them
// under "tty"), or a pseudo-terminal standing in for one. The controlling terminal, the console
// and the pseudo-terminal multiplexer are terminals too, but never a panel's line.
bool isSerialDevice(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = ::major(st.st_rdev);
    if (major == 5) return false;
    if (major >= 136 && major <= 143) return true; // pseudo-terminal slaves
    const QFileInfo subsystem(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(::minor(st.st_rdev)));
    return QFileInfo(subsystem.symLinkTarget()).fileName() == QLatin1String("tty");
}

QString processName(qint64 pid, const QString& fallback)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name = comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
    if (name.isEmpty()) name = fallback.isEmpty() ? QStringLiteral("outro programa") : fallback;
    return QStringLiteral("%1 (processo %2)").arg(name).arg(pid);
}

// The program that holds `device`: first by the lock files that Qt and the UUCP tradition
// leave ("LCK..ttyUSB0"), then by whoever has it open. This program never holds the port
// outside an open, so its own descriptors are not the cause.
std::optional<QString> holderOf(const QString& device)
{
    QString base = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : QFileInfo(device).fileName();
    const QString lockName = QStringLiteral("LCK..") + base.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString& folder : {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/etc/locks"),
                                  QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"), QDir::tempPath()}) {
        qint64 pid = 0;
        QString host, app;
        if (QLockFile(folder + QLatin1Char('/') + lockName).getLockInfo(&pid, &host, &app) && pid > 0
            && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return processName(pid, app);
    }
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString folder = processes.next();
        bool isPid = false;
        const qint64 pid = processes.fileName().toLongLong(&isPid);
        if (!isPid || pid == ::getpid()) continue;
        QDirIterator fds(folder + QStringLiteral("/fd"), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        while (fds.hasNext())
            if (QFileInfo(fds.next()).symLinkTarget() == device) return processName(pid, {});
    }
    return std::nullopt;
}
#endif

} // namespace

QString configFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/painel-sinaletico");
}

PortBinding portBinding(std::int16_t number)
{
    PortBinding binding;
#ifdef Q_OS_WIN
    binding.device = QStringLiteral("COM%1").arg(number);
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
    if (!existing.isSymLink() && existing.exists())
        return QStringLiteral("%1 não é uma ligação e ficou como estava.").arg(link);
    if (!QDir().mkpath(configFolder())) return QStringLiteral("Não foi possível criar a pasta %1.").arg(configFolder());

    QString target = stableNameOf(path, stableFolder);
    if (target.isEmpty()) target = info.absoluteFilePath();
    // A new link beside the old one, renamed over it: the binding is never missing meanwhile.
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(fresh).constData()) != 0
        || ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) != 0) {
        const QString reason = systemError(errno);
        QFile::remove(fresh);
        return QStringLiteral("Não foi possível ligar COM%1: %2").arg(number).arg(reason);
    }
    return std::nullopt;
#endif
}

std::optional<QString> unbindPort(std::int16_t number)
{
    const QFileInfo link(linkPath(number));
    if (!link.isSymLink()) {
        if (link.exists()) return QStringLiteral("%1 não é uma ligação e ficou como estava.").arg(link.absoluteFilePath());
        return QStringLiteral("COM%1 não tem ligação.").arg(number);
    }
    if (!QFile::remove(link.absoluteFilePath()))
        return QStringLiteral("Não foi possível remover %1: %2").arg(link.absoluteFilePath(), systemError(errno));
    return std::nullopt;
}

QString portDescription(std::int16_t number)
{
    const PortBinding binding = portBinding(number);
    if (!binding.present) return QStringLiteral("sem dispositivo");
    const QString description = QSerialPortInfo(binding.device).description();
    return description.isEmpty() ? binding.device : QStringLiteral("%1 (%2)").arg(binding.device, description);
}

QString openFailureReason(const PortBinding& binding, const QString& systemText)
{
    const QString& device = binding.device;
    if (!binding.present) {
        if (!binding.link.isEmpty())
            return QStringLiteral("adaptador desligado? %1 aponta para %2, que não existe").arg(binding.link, binding.target);
        return QStringLiteral("%1 não existe").arg(device);
    }
#ifdef Q_OS_UNIX
    if (!isSerialDevice(device)) return QStringLiteral("%1 não é um dispositivo série").arg(device);
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES) {
        struct stat st {};
        ::stat(QFile::encodeName(device).constData(), &st);
        const group* g = ::getgrgid(st.st_gid);
        const QString name = g != nullptr ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
        return QStringLiteral("sem permissão para abrir %1, que é do grupo %2: junte o utilizador ao grupo %2 e volte a "
                              "entrar na sessão").arg(device, name);
    }
    if (const auto holder = holderOf(device)) return QStringLiteral("%1 está em uso por %2").arg(device, *holder);
#endif
    return QStringLiteral("%1: %2").arg(device, systemText);
}

QString writeFailureReason(int errorNumber)
{
    if (errorNumber == EIO || errorNumber == ENXIO || errorNumber == ENODEV || errorNumber == EPIPE)
        return QStringLiteral("o dispositivo deixou de responder (adaptador desligado?)");
    return systemError(errorNumber);
}
