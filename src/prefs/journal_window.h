#pragma once

#include <QDialog>

#include <optional>

class Journal;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSqlQueryModel;
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
    void chooseExportFile();
    void showProblem();
    [[nodiscard]] bool openReader();

    Journal& journal_;
    QString connection_;
    QString readProblem_; // why the file could not be read, if it could not
    QLabel* problem = nullptr;
    QComboBox* day = nullptr;
    QCheckBox* onlyFailures = nullptr;
    QTableView* entries = nullptr;
    QPushButton* exportButton = nullptr;
    QSqlQueryModel* model_ = nullptr;
};
