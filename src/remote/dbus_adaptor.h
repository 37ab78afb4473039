// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "remote/dbus_remote.h"

#include <QDBusAbstractAdaptor>

// The interface itself; its XML is generated from this class and installed.
class DBusAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.painel_sinaletico.PainelSinaletico.Painel1")
    Q_PROPERTY(QString Sign READ sign)
    Q_PROPERTY(QString Mode READ mode)
    Q_PROPERTY(QString Colour READ colour)
    Q_PROPERTY(QString Port READ port)
    Q_PROPERTY(QString Device READ device)
    Q_PROPERTY(QString LinkState READ lineState)
    Q_PROPERTY(QString LastFailure READ lastFailure)
    Q_PROPERTY(QString Echo READ echo)
public:
    explicit DBusAdaptor(DBusRemote& remote);

    [[nodiscard]] QString sign() const { return remote_.panel().sign(); }
    [[nodiscard]] QString mode() const { return remote_.panel().mode(); }
    [[nodiscard]] QString colour() const { return remote_.panel().colour(); }
    [[nodiscard]] QString port() const { return remote_.panel().port(); }
    [[nodiscard]] QString device() const { return remote_.panel().device(); }
    [[nodiscard]] QString lineState() const { return remote_.panel().lineState(); }
    [[nodiscard]] QString lastFailure() const { return remote_.panel().lastFailure(); }
    [[nodiscard]] QString echo() const { return remote_.panel().echo(); }

public slots:
    // A caption ("Xadrez"; case and accents not significant) or a place on the screen, "1" to "5".
    void ShowSign(const QString& name, const QDBusMessage& message);
    // 1 to 5, the buttons top to bottom.
    void ShowSignIndex(int index, const QDBusMessage& message);

signals:
    void SignChanged(const QString& sign);
    void LinkStateChanged(const QString& state);
    void EchoChanged(const QString& echo);

private:
    void answer(const QString& name, const QDBusMessage& message);

    DBusRemote& remote_;
};
