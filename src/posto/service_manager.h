// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// The post as a systemd service (Type=notify): ready once the panel's start-up is on the line,
// and alive for as long as its event loop turns, which feeds the watchdog. A post whose loop hangs
// stops feeding it, and systemd restarts it. Outside systemd (no NOTIFY_SOCKET) nothing is said.
class ServiceManager final : public QObject {
    Q_OBJECT
public:
    explicit ServiceManager(QObject* parent = nullptr);

    void ready();
    void stopping();
    // A line for `systemctl status`.
    void status(const QString& text);
    // The watchdog's interval asked for by the unit, 0 when there is none.
    [[nodiscard]] int watchdogMs() const { return watchdogMs_; }

private:
    void notify(const QByteArray& state);

    int watchdogMs_ = 0;
    QTimer feed_;
};
