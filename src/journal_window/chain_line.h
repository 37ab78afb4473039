// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

#include <atomic>
#include <memory>

class QThread;
struct ChainReport;

// Whether a journal is as it was written, said in one line: checked on a thread of its own (the
// window never waits, and the check stops when the window goes), then only what is written
// afterwards, on from the last link checked. A break is said in red, and stays said.
class ChainLine final : public QLabel {
    Q_OBJECT
public:
    explicit ChainLine(QWidget* parent = nullptr);
    ~ChainLine() override;

    // The whole of `fileName` again: it may have been changed while no one looked.
    void checkAll(const QString& fileName);
    // What was written since the last check.
    void checkNew();
    // The last check's, once one has ended; nullptr before.
    [[nodiscard]] const ChainReport* report() const { return checked_.get(); }
    [[nodiscard]] bool checking() const { return checker_ != nullptr; }

signals:
    void checked();

private:
    void show(const ChainReport& report, int round);

    QString fileName_;
    QThread* checker_ = nullptr;
    std::atomic<bool> stop_{false};
    std::unique_ptr<ChainReport> checked_; // the last check's, on which the next goes on
    bool checkAgain_ = false;              // entries were written while it ran
    int round_ = 0;                        // a whole check for each checkAll()
};
