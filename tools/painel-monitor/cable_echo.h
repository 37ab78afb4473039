// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstddef>

// The cable as a loop at the panel's connector plays it: every byte the panel receives goes back
// to the sender, unless the cable is cut; and one byte may come back changed, as noise would.
class CableEcho final : public QObject {
    Q_OBJECT
public:
    explicit CableEcho(QObject* parent = nullptr) : QObject(parent) {}

    // Cut once `bytes` have gone back (0: never by itself).
    void cutAfter(std::size_t bytes) { cutAfter_ = bytes; }
    void setCut(bool cut);
    [[nodiscard]] bool isCut() const { return cut_; }
    // The next byte to go back is changed.
    void garbleNext();
    // What goes back of `received`.
    [[nodiscard]] QByteArray respond(const QByteArray& received);

signals:
    // For the log and the window: "cabo cortado", "cabo ligado de novo", "um byte trocado".
    void changed(const QString& what);

private:
    std::size_t echoed_ = 0;
    std::size_t cutAfter_ = 0;
    bool cut_ = false;
    bool garble_ = false;
};
