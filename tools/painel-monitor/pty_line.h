#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// A pseudo-terminal whose slave device stands in for the panel's serial port: whatever a sender
// writes to the slave is received here from the master.
class PtyLine : public QObject {
    Q_OBJECT

public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    explicit PtyLine(QObject* parent = nullptr);
    ~PtyLine() override;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    [[nodiscard]] QString slavePath() const { return slavePath_; }

signals:
    void received(const QByteArray& bytes);

private:
    void readAvailable();

    int master_ = -1;
    int slaveKeeper_ = -1;
    QString slavePath_;
    QSocketNotifier* notifier_ = nullptr;
};
