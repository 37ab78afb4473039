#include "app/raise_requests.h"

#include "panel/port_devices.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

extern "C" void onRaiseSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(pipeEnds[1], &byte, 1);
    errno = saved;
}


} // namespace

RaiseRequests::RaiseRequests(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), onRequest_(std::move(onRequest))
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char drained[16];
        while (::read(pipeEnds[0], drained, sizeof drained) > 0) {}
        onRequest_();
    });
    struct sigaction action {};
    action.sa_handler = onRaiseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &action, nullptr);
}

RaiseRequests::~RaiseRequests()
{
    std::signal(SIGUSR1, SIG_IGN);
    delete notifier_;
    for (int& end : pipeEnds) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

bool RaiseRequests::ask(qint64 pid)
{
    const QString ours = processCommand(::getpid());
    if (pid <= 0 || pid == ::getpid() || ours.isEmpty() || processCommand(pid) != ours) return false;
    return ::kill(static_cast<pid_t>(pid), SIGUSR1) == 0;
}
