// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/local_requests.h"

#include "remote/command_line.h"
#include "remote/panel_requests.h"

#include "platform/private_folder.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>

#include <vector>
#else
#include <QFile>

#include <algorithm>
#include <array>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// Longer than any sign's name or place; a longer line is no request of ours.
constexpr qint64 maxRequestBytes = 1024;
// A client that connects and says nothing is dropped after this.
constexpr int requestTimeoutMs = 2000;

enum class Peer { Server, Client };

#ifdef Q_OS_WIN
// The user a process runs as; empty when the system will not say.
std::vector<BYTE> processUser(HANDLE process)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool read = size > 0 && ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
    ::CloseHandle(token);
    return read ? user : std::vector<BYTE>{};
}

// Why the process at the pipe's other end is not to be trusted, or nullopt when it runs as
// this user.
std::optional<QString> peerProblem(qintptr descriptor, Peer peer)
{
    auto* pipe = reinterpret_cast<HANDLE>(descriptor);
    ULONG pid = 0;
    if (!(peer == Peer::Server ? ::GetNamedPipeServerProcessId(pipe, &pid) : ::GetNamedPipeClientProcessId(pipe, &pid)))
        return QStringLiteral("o sistema não diz de que processo é a outra ponta");
    HANDLE other = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    const std::vector<BYTE> theirs = other != nullptr ? processUser(other) : std::vector<BYTE>{};
    if (other != nullptr) ::CloseHandle(other);
    const std::vector<BYTE> ours = processUser(::GetCurrentProcess());
    if (theirs.empty() || ours.empty()) return QStringLiteral("o processo %1 na outra ponta não diz de quem é").arg(pid);
    if (!::EqualSid(reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid, reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid))
        return QStringLiteral("o processo %1 na outra ponta é de outro utilizador").arg(pid);
    return std::nullopt;
}

// A pipe has no folder: whose it is, is asked of its process.
std::optional<QString> placeProblem(const QString&) { return std::nullopt; }
#else
// Whether the process at the other end has group `gid` among its groups.
bool peerInGroup(int descriptor, gid_t gid, gid_t primary)
{
    if (primary == gid) return true;
    std::array<gid_t, 256> groups{};
    socklen_t length = sizeof groups;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) != 0) return false;
    return std::find(groups.begin(), groups.begin() + length / sizeof(gid_t), gid) != groups.begin() + length / sizeof(gid_t);
}

// `owner`: the user the other end must run as; this user unless said. `group`: a group whose
// members are answered too.
std::optional<QString> peerProblem(qintptr descriptor, Peer, std::optional<uid_t> owner = std::nullopt, std::optional<gid_t> group = std::nullopt)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return QStringLiteral("o sistema não diz de quem é a outra ponta");
    if (credentials.uid == owner.value_or(::geteuid())) return std::nullopt;
    if (group && peerInGroup(int(descriptor), *group, credentials.gid)) return std::nullopt;
    const passwd* user = ::getpwuid(credentials.uid);
    return QStringLiteral("o processo %1 na outra ponta é de %2, não deste utilizador")
        .arg(credentials.pid)
        .arg(user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString::number(credentials.uid));
}

std::optional<QString> placeProblem(const QString& name) { return privateFolderProblem(QFileInfo(name).absolutePath()); }

// The system service's door is believed only in a folder its user owns, that nobody else may
// write to, and only as answered by that user's process.
std::optional<QString> systemDoorProblem(const QString& name, uid_t* owner)
{
    const passwd* user = ::getpwnam(LocalRequests::systemServiceUser);
    if (user == nullptr) return QStringLiteral("não há o utilizador %1").arg(QLatin1String(LocalRequests::systemServiceUser));
    struct stat st {};
    if (::stat(QFile::encodeName(QFileInfo(name).absolutePath()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("a pasta de %1 não existe").arg(name);
    if (st.st_uid != user->pw_uid || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("a pasta de %1 não é só de %2").arg(name, QLatin1String(LocalRequests::systemServiceUser));
    *owner = user->pw_uid;
    return std::nullopt;
}
#endif
} // namespace

LocalRequests::LocalRequests(PanelRequests& panel, std::function<void()> comeForward, QObject* parent)
    : QObject(parent), panel_(panel), comeForward_(std::move(comeForward))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) serve(socket);
    });
}

LocalRequests::Place LocalRequests::defaultPlace()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("painel-sinaletico-%1").arg(qEnvironmentVariable("USERNAME")), {}};
#else
    const PrivateFolder folder = privateFolder();
    if (folder.path.isEmpty()) return {{}, folder.problem};
    return {folder.path + QStringLiteral("/painel-sinaletico.socket"), {}};
#endif
}

QString LocalRequests::systemPlace() { return QStringLiteral("/run/painel-sinaletico/painel-sinaletico.socket"); }

std::optional<QString> LocalRequests::listen(const QString& name, Access access)
{
    const Place place = name.isEmpty() ? defaultPlace() : Place{name, placeProblem(name).value_or(QString())};
    if (!place.problem.isEmpty()) return place.problem;
    access_ = access;
    server_.setSocketOptions(access == Access::Group ? QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption : QLocalServer::UserAccessOption);
    if (server_.listen(place.name)) return std::nullopt;
    return QStringLiteral("%1: %2").arg(place.name, server_.errorString());
}

void LocalRequests::serve(QLocalSocket* socket)
{
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
#ifdef Q_OS_WIN
    const auto problem = peerProblem(socket->socketDescriptor(), Peer::Client);
#else
    const auto problem =
        peerProblem(socket->socketDescriptor(), Peer::Client, std::nullopt, access_ == Access::Group ? std::optional(::getegid()) : std::nullopt);
#endif
    if (problem) {
        qCWarning(remoteLog, "pedido local recusado: %s", qPrintable(*problem));
        socket->abort();
        return;
    }
    QTimer::singleShot(requestTimeoutMs, socket, &QLocalSocket::abort);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine() && socket->bytesAvailable() <= maxRequestBytes) return;
        const QByteArray line = socket->readLine(maxRequestBytes + 1);
        const Answer reply =
            line.endsWith('\n') ? answer(QString::fromUtf8(line.chopped(1))) : Answer{exitBadArgument, QStringLiteral("pedido demasiado longo")};
        socket->write(QByteArray::number(reply.code) + '\n' + reply.text.toUtf8());
        socket->disconnectFromServer();
    });
}

LocalRequests::Answer LocalRequests::answer(const QString& request)
{
    static const QString signRequest = QStringLiteral("sinal ");
    if (request == QLatin1String("raise")) {
        if (comeForward_) comeForward_();
        return {exitDone, {}};
    }
    if (request == QLatin1String("estado")) return {exitDone, panel_.stateText()};
    if (!request.startsWith(signRequest)) return {exitBadArgument, QStringLiteral("pedido desconhecido")};
    const auto refusal = panel_.show(request.mid(signRequest.size()));
    if (!refusal) return {exitDone, {}};
    using Why = PanelRequests::Refusal::Why;
    return {refusal->why == Why::UnknownSign ? exitBadArgument : refusal->why == Why::NoEcho ? exitNoEcho : exitNotSent, refusal->message};
}

std::optional<LocalRequests::Answer> LocalRequests::ask(const QString& request, int timeoutMs, const QString& name)
{
    const Place place = name.isEmpty() ? defaultPlace() : Place{name, placeProblem(name).value_or(QString())};
    const auto untrusted = [](const QString& why) { return Answer{exitUntrusted, QStringLiteral("a porta local não é de confiança: %1").arg(why)}; };
    if (!place.problem.isEmpty()) return untrusted(place.problem);
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(place.name);
    std::optional<QString> problem;
    if (socket.waitForConnected(int(deadline.remainingTime()))) {
        // Whoever answers must be this user's: another's program could answer anything it likes.
        problem = peerProblem(socket.socketDescriptor(), Peer::Server);
    } else {
#ifdef Q_OS_WIN
        return std::nullopt;
#else
        // No post of this user's: the system service's, when this user may knock on its door.
        if (!name.isEmpty() || !QFileInfo::exists(systemPlace())) return std::nullopt;
        uid_t owner = 0;
        if (const auto folder = systemDoorProblem(systemPlace(), &owner)) return untrusted(*folder);
        socket.connectToServer(systemPlace());
        if (!socket.waitForConnected(int(deadline.remainingTime()))) return std::nullopt;
        problem = peerProblem(socket.socketDescriptor(), Peer::Server, owner);
#endif
    }
    if (problem) return untrusted(*problem);
    socket.write(request.toUtf8() + '\n');
    QByteArray reply;
    // The copy closes once it has answered; everything before the close is the answer.
    while (socket.state() == QLocalSocket::ConnectedState && socket.waitForReadyRead(int(deadline.remainingTime()))) reply += socket.readAll();
    reply += socket.readAll();
    const qsizetype end = reply.indexOf('\n');
    bool number = false;
    const int code = reply.left(end).toInt(&number);
    if (end < 0 || !number) return Answer{exitNotRunning, QStringLiteral("o painel-sinaletico não respondeu")};
    return Answer{code, QString::fromUtf8(reply.mid(end + 1))};
}
