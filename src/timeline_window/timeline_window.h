// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/timeline_reader.h"
#include "timeline_window/timeline_export.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class ChainLine;
class Journal;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableWidget;
class TimelineModel;
class TimelineView;

// "Linha do tempo": what each panel showed and when, a lane a post (or the post's own panel),
// over a range chosen or following now; a bar's entries under it; the range as a report in PDF
// or CSV. Any journal file can be opened, always for reading only, with the reason when it can
// be read only as it is and its chain's check on top.
class TimelineWindow final : public QDialog {
    Q_OBJECT
public:
    // `journal` is followed while it is the file shown; `place` heads the reports.
    TimelineWindow(Journal& journal, QString place, QWidget* parent = nullptr);
    ~TimelineWindow() override;

    // Shows `fileName`, read only, from the start of its last hour.
    void openFile(const QString& fileName);
    // What a lane is called: the post's name where it is known.
    void nameLanes(std::function<QString(const QString&)> nameOf);
    // The range shown, on the control room's clock.
    void setRange(qint64 fromMs, qint64 toMs);
    [[nodiscard]] TimelineModel& model() { return *model_; }
    [[nodiscard]] TimelineView& view() { return *timeline; }

    // The times in sight as a report; nullopt when done, otherwise the reason.
    [[nodiscard]] std::optional<QString> exportPdf(const QString& fileName);
    [[nodiscard]] std::optional<QString> exportCsv(const QString& fileName);

private:
    void choosePreset();
    void rangeEdited();
    void follow(bool on);
    void tick();
    void showEntries(const std::vector<QStringList>& rows, const QString& title);
    // Asks where, then writes the report of `kind` ("PDF", "CSV") there, or says why it could not.
    void chooseExport(const QString& kind, std::optional<QString> (TimelineWindow::*write)(const QString&));
    void chooseFile();
    void showProblem();
    [[nodiscard]] TimelineReportHeader reportHeader() const;
    [[nodiscard]] QString suggestedName(const QString& extension) const;

    Journal& journal_;
    QString place_;
    std::function<QString(const QString&)> nameOf_;
    TimelineModel* model_ = nullptr;
    std::unique_ptr<TimelineReader> reader_; // the window's own, for entries and exports
    QLabel* problem = nullptr;
    ChainLine* chain = nullptr;
    QComboBox* range = nullptr;
    QDateTimeEdit* from = nullptr;
    QDateTimeEdit* to = nullptr;
    QPushButton* now = nullptr;
    QComboBox* clock = nullptr;
    QPushButton* exportPdfButton = nullptr;
    QPushButton* exportCsvButton = nullptr;
    QPushButton* openButton = nullptr;
    TimelineView* timeline = nullptr;
    QLabel* entriesTitle = nullptr;
    QTableWidget* entries = nullptr;
    QTimer ticker_;
    bool written_ = false; // the journal followed has new entries
};
