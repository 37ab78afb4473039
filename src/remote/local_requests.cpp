// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/local_requests.h"

#include "remote/command_line.h"
#include "remote/panel_requests.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
// Longer than any sign's name or place; a longer line is no request of ours.
constexpr qint64 maxRequestBytes = 1024;
// A client that connects and says nothing is dropped after this.
constexpr int requestTimeoutMs = 2000;
} // namespace

LocalRequests::LocalRequests(PanelRequests& panel, std::function<void()> comeForward, QObject* parent)
    : QObject(parent), panel_(panel), comeForward_(std::move(comeForward))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) serve(socket);
    });
}

QString LocalRequests::defaultName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("painel-sinaletico-%1").arg(qEnvironmentVariable("USERNAME"));
#else
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) return runtime + QStringLiteral("/painel-sinaletico.socket");
    return QDir::tempPath() + QStringLiteral("/painel-sinaletico-%1.socket").arg(::getuid());
#endif
}

std::optional<QString> LocalRequests::listen(const QString& name)
{
    if (server_.listen(name)) return std::nullopt;
    return QStringLiteral("%1: %2").arg(name, server_.errorString());
}

void LocalRequests::serve(QLocalSocket* socket)
{
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
        comeForward_();
        return {exitDone, {}};
    }
    if (request == QLatin1String("estado")) return {exitDone, panel_.stateText()};
    if (!request.startsWith(signRequest)) return {exitBadArgument, QStringLiteral("pedido desconhecido")};
    const auto refusal = panel_.show(request.mid(signRequest.size()));
    if (!refusal) return {exitDone, {}};
    return {refusal->why == PanelRequests::Refusal::Why::UnknownSign ? exitBadArgument : exitNotSent, refusal->message};
}

std::optional<LocalRequests::Answer> LocalRequests::ask(const QString& request, int timeoutMs, const QString& name)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) return std::nullopt;
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
