#pragma once

#include <QObject>

class QSocketNotifier;

// Ends the event loop on SIGINT and SIGTERM, so that the program leaves through the normal
// way out (pending bytes reported, exit status 0) instead of being cut off by the signal.
class QuitOnSignals : public QObject {
    Q_OBJECT

public:
    // One instance per process: the signal handler has a single pipe to write to.
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

private:
    QSocketNotifier* notifier_ = nullptr;
};
