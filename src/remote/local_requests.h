// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocalServer>
#include <QObject>

#include <functional>
#include <optional>

class PanelRequests;
class QLocalSocket;

// The running copy's door on this computer, for this user only: a refused second copy asks it to
// come forward, the command line to show a sign or to tell the state. A local socket (a named
// pipe on Windows) carrying one request a connection, a line of UTF-8: "raise", "sinal NOME" or
// "estado"; the answer is the exit code on a line of its own, then the text to print.
//
// Each end proves who is on the other: the socket lives in a folder only this user may write to,
// and each side asks the system whose the other end's process is (SO_PEERCRED; on Windows the
// pipe's processes and their owners). Another user's program is neither answered nor believed.
class LocalRequests final : public QObject {
    Q_OBJECT
public:
    LocalRequests(PanelRequests& panel, std::function<void()> comeForward, QObject* parent = nullptr);

    // This user's door: a socket in the private folder, or a pipe named after the user on
    // Windows; an empty name, and the reason, when no folder can be trusted.
    struct Place {
        QString name;
        QString problem;
    };
    [[nodiscard]] static Place defaultPlace();

    // Starts answering on `name` (the default place when empty); nullopt when done, else why not.
    // A socket left by a copy that was killed is replaced (the user-only socket is made aside and
    // renamed over it); a pipe goes with its process.
    [[nodiscard]] std::optional<QString> listen(const QString& name = {});

    struct Answer {
        int code = 0;
        QString text;
    };
    // Asks the copy behind `name` (the default place when empty): nullopt when there is none;
    // exitUntrusted, with why, when the door or whoever answers is not this user's; exitNotRunning
    // when it took the request and gave no answer within `timeoutMs`.
    [[nodiscard]] static std::optional<Answer> ask(const QString& request, int timeoutMs, const QString& name = {});

private:
    void serve(QLocalSocket* socket);
    [[nodiscard]] Answer answer(const QString& request);

    PanelRequests& panel_;
    std::function<void()> comeForward_;
    QLocalServer server_;
};
