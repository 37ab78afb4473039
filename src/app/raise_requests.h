#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// A second copy of the program, refused, asks the running one to come forward: it sends
// SIGUSR1 to the pid in the single-instance lock, and the running copy raises its window.
// One instance per process: the signal handler has a single pipe to write to.
class RaiseRequests final : public QObject {
public:
    explicit RaiseRequests(std::function<void()> onRequest, QObject* parent = nullptr);
    ~RaiseRequests() override;
    RaiseRequests(const RaiseRequests&) = delete;
    RaiseRequests& operator=(const RaiseRequests&) = delete;

    // Asks copy `pid` to come forward, only when it is this same program: a pid from a lock
    // file may meanwhile belong to anything, and SIGUSR1 would end most programs.
    static bool ask(qint64 pid);

private:
    std::function<void()> onRequest_;
    QSocketNotifier* notifier_ = nullptr;
};
