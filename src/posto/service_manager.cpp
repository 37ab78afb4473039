// SPDX-License-Identifier: GPL-3.0-or-later
#include "posto/service_manager.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

ServiceManager::ServiceManager(QObject* parent) : QObject(parent)
{
    uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) > 0) watchdogMs_ = int(std::max<uint64_t>(usec / 1000, 2));
    // Twice an interval, as systemd advises: one late turn of the loop is no hang.
    feed_.setInterval(watchdogMs_ / 2);
    connect(&feed_, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
}

void ServiceManager::ready()
{
    notify("READY=1");
    if (watchdogMs_ > 0) {
        notify("WATCHDOG=1");
        feed_.start();
    }
}

void ServiceManager::stopping()
{
    feed_.stop();
    notify("STOPPING=1");
}

void ServiceManager::status(const QString& text) { notify("STATUS=" + text.toUtf8()); }

void ServiceManager::notify(const QByteArray& state) { (void)::sd_notify(0, state.constData()); }
