// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>
#include <QString>

#include <optional>

class PanelSession;

// Diagnostics of the ways in, for whoever reads the program's standard error or the system log.
Q_DECLARE_LOGGING_CATEGORY(remoteLog)

// The session as other programs see it, whichever way they come in: a sign chosen by name as a
// click chooses it (origin "remoto"), and the state in words.
class PanelRequests {
public:
    explicit PanelRequests(PanelSession& session) : session_(session) {}

    struct Refusal {
        // NoEcho: the bytes went out whole but the cable's echo did not prove they reached the panel.
        enum class Why { UnknownSign, NotSent, NoEcho } why;
        QString message;
    };
    // The sign named (a caption, case and accents not significant) or at place "1" to "5", sent
    // as a click sends it; nullopt when it went out whole (and, with the cable's echo on, came back).
    [[nodiscard]] std::optional<Refusal> show(const QString& name);

    [[nodiscard]] QString sign() const;
    [[nodiscard]] QString mode() const;
    [[nodiscard]] QString colour() const;
    [[nodiscard]] QString port() const;
    [[nodiscard]] QString device() const;
    [[nodiscard]] QString lineState() const;
    [[nodiscard]] QString lastFailure() const;
    // The cable's echo of the last send: "desligado", "confirmado", "sem eco", "diferente", "incompleto".
    [[nodiscard]] QString echo() const;
    // The seconds the sign chosen for a while still stands; empty while none has a time.
    [[nodiscard]] QString remainingSeconds() const;
    // All of the above, one "key: value" a line under the command line's keys.
    [[nodiscard]] QString stateText() const;

private:
    PanelSession& session_;
};
