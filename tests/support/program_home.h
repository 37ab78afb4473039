// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// A scratch home for the built programs: configuration and runtime folders of their own, so a
// test touches nothing of the user's and every copy of the program has its own lock.
struct ProgramHome {
    QTemporaryDir dir;

    ProgramHome()
    {
        QDir().mkpath(config());
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    [[nodiscard]] QString config() const { return dir.path() + QStringLiteral("/config/painel-sinaletico"); }
    [[nodiscard]] QString runtime() const { return dir.path() + QStringLiteral("/runtime"); }
    [[nodiscard]] bool linkPort(int n, const QString& device) const { return QFile::link(device, config() + "/com" + QString::number(n)); }
    [[nodiscard]] QProcessEnvironment environment(const QString& platform = QStringLiteral("offscreen")) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        // No session bus unless a test brings its own: the user's must never see a test's copy.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + dir.path() + QStringLiteral("/no-bus"));
        return env;
    }
};
