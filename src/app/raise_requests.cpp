// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/raise_requests.h"

#include "serial/port_devices.h"

#include <csignal>

#include <unistd.h>

RaiseRequests::RaiseRequests(std::function<void()> onRequest, QObject* parent) : QObject(parent), requests_({SIGUSR1})
{
    connect(&requests_, &SignalEvents::received, this, [onRequest = std::move(onRequest)] { onRequest(); });
}

bool RaiseRequests::ask(qint64 pid)
{
    const QString ours = processCommand(::getpid());
    if (pid <= 0 || pid == ::getpid() || ours.isEmpty() || processCommand(pid) != ours) return false;
    return ::kill(static_cast<pid_t>(pid), SIGUSR1) == 0;
}
