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
// pipe's processes and their owners). Another user's program is neither answered nor believed;
// the system service answers the members of its group too, and is believed as that service's
// user in a folder of its own.
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
    // The door of the post that runs as a system service, for its group's members.
    static constexpr const char* systemServiceUser = "painel-posto";
    [[nodiscard]] static QString systemPlace();

    // Who may knock: this user alone, or the members of this process's group too (the system
    // service's door, which the folder's and the socket's group rights keep to that group).
    enum class Access { User, Group };

    // Starts answering on `name` (the default place when empty); nullopt when done, else why not.
    // A socket left by a copy that was killed is replaced (the user-only socket is made aside and
    // renamed over it); a pipe goes with its process.
    [[nodiscard]] std::optional<QString> listen(const QString& name = {}, Access access = Access::User);

    struct Answer {
        int code = 0;
        QString text;
    };
    // Asks the copy behind `name` (the default place, then the system service's, when empty):
    // nullopt when there is none;
    // exitUntrusted, with why, when the door or whoever answers is not this user's; exitNotRunning
    // when it took the request and gave no answer within `timeoutMs`.
    [[nodiscard]] static std::optional<Answer> ask(const QString& request, int timeoutMs, const QString& name = {});

private:
    void serve(QLocalSocket* socket);
    [[nodiscard]] Answer answer(const QString& request);

    PanelRequests& panel_;
    std::function<void()> comeForward_;
    QLocalServer server_;
    Access access_ = Access::User;
};
