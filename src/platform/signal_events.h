// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <vector>

class QSocketNotifier;

// Unix signals as Qt signals, emitted by the event loop of the thread that made this object: the
// handler itself only writes the signal's number into a pipe (all it may safely do), and the
// loop reads it back. Each signal belongs to one instance at a time; its old handling comes back
// when that instance goes. Windows has no such signals: it ends a program through its windows,
// which Qt turns into a close, so there the object never emits.
class SignalEvents final : public QObject {
    Q_OBJECT
public:
    explicit SignalEvents(std::vector<int> numbers, QObject* parent = nullptr);
    ~SignalEvents() override;
    SignalEvents(const SignalEvents&) = delete;
    SignalEvents& operator=(const SignalEvents&) = delete;

    // A log-out, a shutdown, a kill or Ctrl+C.
    [[nodiscard]] static std::vector<int> endings();

signals:
    void received(int number);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    std::vector<int> numbers_;
    QSocketNotifier* notifier_ = nullptr;
};
