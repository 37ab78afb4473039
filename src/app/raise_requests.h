// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/signal_events.h"

#include <QObject>

#include <functional>

// A second copy of the program, refused, asks the running one to come forward: it sends
// SIGUSR1 to the pid in the single-instance lock, and the running copy raises its window.
class RaiseRequests final : public QObject {
public:
    explicit RaiseRequests(std::function<void()> onRequest, QObject* parent = nullptr);

    // Asks copy `pid` to come forward, only when it is this same program: a pid from a lock
    // file may meanwhile belong to anything, and SIGUSR1 would end most programs.
    static bool ask(qint64 pid);

private:
    SignalEvents requests_;
};
