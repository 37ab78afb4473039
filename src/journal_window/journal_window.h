// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QDialog>
#include <QList>

#include <optional>

class Journal;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class JournalTableModel;
class ChainLine;
class QTableView;

// "Registo": the journal, newest first, by day and failures only, and exported as CSV as shown.
// It reads through a connection of its own that never waits for a lock, so a journal held by
// another process shows as a message rather than a frozen window.
class JournalWindow final : public QDialog {
    Q_OBJECT
public:
    explicit JournalWindow(Journal& journal, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Reads the entries again, keeping the day chosen.
    void refresh();
    // Writes what the table shows to `fileName`; nullopt when done, otherwise the reason.
    [[nodiscard]] std::optional<QString> exportCsv(const QString& fileName);

private:
    // The table again from the newest entry, under the filters chosen.
    void showEntries();
    // What was written since: on top, with no other read.
    void addNewer();
    [[nodiscard]] QList<QDate> readDays();
    [[nodiscard]] std::optional<QDate> newestDayBefore(qint64 below);
    void cannotRead(const QString& cause);
    void chooseExportFile();
    void showProblem();
    // What the table's last read met, if anything.
    void showReadProblem();
    [[nodiscard]] bool openReader();

    Journal& journal_;
    QString connection_;
    QString readProblem_; // why the file could not be read, if it could not
    QLabel* problem = nullptr;
    ChainLine* chain = nullptr;
    QComboBox* day = nullptr;
    QCheckBox* onlyFailures = nullptr;
    QTableView* entries = nullptr;
    QPushButton* exportButton = nullptr;
    JournalTableModel* model_ = nullptr;
};
