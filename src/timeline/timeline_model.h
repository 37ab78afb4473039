// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/timeline_reader.h"

#include <QObject>
#include <QThread>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <vector>

// The timeline as a window draws it: the lanes, read on threads of their own only as they come
// into sight and only at the detail a pixel can show, so that neither a day of a thousand posts
// nor a slow disk holds up the window. What was read stays drawn until its replacement comes.
class TimelineModel final : public QObject {
    Q_OBJECT
public:
    explicit TimelineModel(QObject* parent = nullptr);
    ~TimelineModel() override;
    TimelineModel(const TimelineModel&) = delete;
    TimelineModel& operator=(const TimelineModel&) = delete;

    // Reads `fileName` from now on, for reading only; opened() says when its posts are known.
    // `live`: the journal is being kept, so what it says last still holds now.
    void open(const QString& fileName, bool live = false);
    [[nodiscard]] const QString& fileName() const { return fileName_; }
    // The times and detail to read; lanes read for another span stay until read again.
    void setSpan(const TimelineSpan& span);
    [[nodiscard]] const TimelineSpan& span() const { return span_; }
    // The lanes in sight: those not read for the span are read, in this order.
    void want(int first, int last);
    // The file has new entries: the posts, the requests and the lanes in sight again.
    void reload();

    [[nodiscard]] const QStringList& posts() const { return posts_; }
    // The lane as last read, or nullptr before it is read at all.
    [[nodiscard]] const TimelineLane* lane(int index) const;
    [[nodiscard]] bool isCurrent(int index) const;
    // Changes each time the lane is read: what was drawn from it can be kept until then.
    [[nodiscard]] quint64 readNumber(int index) const;
    [[nodiscard]] const std::vector<TimelineRequest>& requests() const { return requests_; }
    [[nodiscard]] std::optional<std::pair<qint64, qint64>> extent() const { return extent_; }
    [[nodiscard]] bool isCentral() const { return central_; }
    // Why the file opens for reading only as it is, or not at all; empty when all is well.
    [[nodiscard]] const QString& problem() const { return problem_; }
    // Nothing asked for is still being read.
    [[nodiscard]] bool idle() const { return !opening_ && pending_.empty() && !readingRequests_; }

signals:
    void opened();
    void lanesRead();
    void problemChanged(const QString& problem);

private:
    struct Read {
        std::optional<TimelineLane> lane;
        TimelineSpan span;
        quint64 number = 0;
    };
    // Runs `job` on reading thread `which`, unless the model has moved on by then.
    void onReader(std::function<void(TimelineReader&)> job, std::size_t which = 0);
    void readRequests();
    // The lanes `toRead` (index, post) by reader `which`, a few at a time back to the window.
    void read(std::vector<std::pair<int, QString>> toRead, std::size_t which);
    void setProblem(const QString& problem);

    // Two readers, each with its connection on its thread: the lanes in sight are shared between
    // them, the file's SQLite reading on both cores.
    struct Worker {
        QThread thread;
        QObject* context = nullptr;             // lives on thread
        std::unique_ptr<TimelineReader> reader; // used on thread only
    };
    std::array<Worker, 2> workers_;
    // Moved on by each file opened or read again, and by each span: what was asked before is dropped.
    std::atomic<int> fileGeneration_{0};
    std::atomic<int> generation_{0};
    QString fileName_;
    TimelineSpan span_;
    QStringList posts_;
    std::vector<Read> lanes_;
    std::set<int> pending_;
    std::vector<TimelineRequest> requests_;
    std::optional<std::pair<qint64, qint64>> extent_;
    QString problem_;
    bool central_ = false;
    bool opening_ = false;
    bool readingRequests_ = false;
    std::pair<int, int> wanted_{0, -1};
    quint64 reads_ = 0;
};
