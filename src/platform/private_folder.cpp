// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_folder.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
QString userNamed(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("o utilizador %1").arg(uid);
}

// A folder we made ourselves must not be a link: whoever made the link chose where it leads.
std::optional<QString> problemOf(const QString& path, bool followLink)
{
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((followLink ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) return QStringLiteral("a pasta %1 não existe").arg(path);
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("%1 não é uma pasta").arg(path);
    if (st.st_uid != ::geteuid()) return QStringLiteral("a pasta %1 é de %2, não deste utilizador").arg(path, userNamed(st.st_uid));
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return QStringLiteral("a pasta %1 pode ser escrita por outros utilizadores").arg(path);
    return std::nullopt;
}
#endif

} // namespace

std::optional<QString> privateFolderProblem(const QString& path)
{
#ifdef Q_OS_UNIX
    return problemOf(path, true);
#else
    Q_UNUSED(path);
    return std::nullopt;
#endif
}

PrivateFolder privateFolder()
{
#ifdef Q_OS_UNIX
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString refused;
    if (runtime.isEmpty() || QDir::isRelativePath(runtime)) refused = QStringLiteral("XDG_RUNTIME_DIR não está definido");
    else if (const auto problem = problemOf(runtime, true)) refused = *problem;
    else return {runtime, {}};
    // The temporary folder is everybody's: the folder is made for this user alone, and checked
    // afterwards all the same, since it may have been there already.
    const QString fallback = QDir::tempPath() + QStringLiteral("/painel-sinaletico-%1").arg(::geteuid());
    (void)::mkdir(QFile::encodeName(fallback).constData(), S_IRWXU);
    if (const auto problem = problemOf(fallback, false)) return {{}, QStringLiteral("%1, e %2").arg(refused, *problem)};
    return {fallback, {}};
#else
    return {QDir::tempPath(), {}};
#endif
}
