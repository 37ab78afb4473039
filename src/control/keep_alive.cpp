// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/keep_alive.h"

#include <utility>

KeepAlive::KeepAlive(std::function<void()> resend, QObject* parent) : QObject(parent), resend_(std::move(resend))
{
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &KeepAlive::tick);
}

void KeepAlive::setSeconds(int seconds)
{
    timer_.setInterval(seconds * 1000);
    if (seconds > 0) timer_.start();
    else timer_.stop();
}

void KeepAlive::restart()
{
    if (timer_.isActive()) timer_.start();
}
