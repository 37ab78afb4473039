// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The timeline's reading of a journal: what each panel showed and when, from the control room's
// journal one lane per post, from a post's own its panel alone. Nothing here writes the file.

// Which clock a control room's lanes are drawn on: its own, with each post's time corrected by
// the post's clock offset, or the time each post gave.
enum class TimelineClock { Central, Post };

// What one panel showed from one time to the next.
struct TimelineBar {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QString sign;         // the caption of what it showed; empty when it is not known
    QString colour;       // the mono-colour mode's colour ("vermelho"); empty for the sign's own
    bool offline = false; // the post was not heard
    bool test = false;    // the panel's lamp test
    int failed = 0;       // sends that failed meanwhile
    int noEcho = 0;       // sends whose echo did not come back from the cable
    int changes = 1;      // entries it stands for: more where they fall closer than one pixel
};

enum class MarkKind { Failure, Silence, Startup };

// Something that happened at a moment: a failure, a request left unanswered, a start-up.
struct TimelineMark {
    qint64 ms = 0;
    MarkKind kind = MarkKind::Failure;
    QString text;
};

struct TimelineLane {
    QString post; // empty for a post's own journal
    std::vector<TimelineBar> bars;
    std::vector<TimelineMark> marks;
    std::optional<qint64> clockOffsetMs; // the post's clock against the control room's, last said
};

// A control room's request, across the lanes of the posts it named.
struct TimelineRequest {
    qint64 ms = 0;
    QString sign;
    QString id;
    QStringList posts;
    bool everyone = false; // also sent to every post of the site
};

// The times drawn, and how long one pixel stands for: entries closer than that are summed up
// by the database into one bar, so a day of a thousand posts reads as fast as an hour.
struct TimelineSpan {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    qint64 bucketMs = 1;
    TimelineClock clock = TimelineClock::Central;
    bool operator==(const TimelineSpan&) const = default;
};

class TimelineReader {
public:
    explicit TimelineReader(QString fileName);
    ~TimelineReader();
    TimelineReader(const TimelineReader&) = delete;
    TimelineReader& operator=(const TimelineReader&) = delete;

    // Opens the file for reading only. False when nothing can be read; a file that can be read
    // only as it is (damaged, from a newer version) opens, and says why in problem().
    [[nodiscard]] bool open();
    [[nodiscard]] const QString& problem() const { return problem_; }
    // A journal still being kept: its last bars go on to now, not only to its last entry.
    void setLive(bool live) { live_ = live; }
    // A control room's journal: a lane for each post it heard of.
    [[nodiscard]] bool isCentral() const { return central_; }

    // The posts, by their ids in order; a post's own journal has its one lane, "".
    [[nodiscard]] QStringList posts();
    [[nodiscard]] TimelineLane lane(const QString& post, const TimelineSpan& span);
    [[nodiscard]] std::vector<TimelineRequest> requests(qint64 fromMs, qint64 toMs);
    // The earliest and latest entries' times; nullopt for an empty journal.
    [[nodiscard]] std::optional<std::pair<qint64, qint64>> extent();

    // The journal's columns (the post's among them) for a header.
    [[nodiscard]] static QStringList columnTitles();
    // A lane's entries between two times on the control room's clock, oldest first, at most `limit`.
    [[nodiscard]] std::vector<QStringList> entries(const QString& post, qint64 fromMs, qint64 toMs, int limit);
    // A request's entries: it, its answers and its summary, within a minute of it.
    [[nodiscard]] std::vector<QStringList> requestEntries(const TimelineRequest& request, int limit);
    // Every entry of the range, oldest first, one at a time; `each` returns false to stop.
    [[nodiscard]] bool forEachEntry(qint64 fromMs, qint64 toMs, const std::function<bool(const QStringList&)>& each);

private:
    [[nodiscard]] bool failedWith(const QSqlQuery& query);
    [[nodiscard]] QString selectColumns() const;
    // The condition that picks a post's own entries, not a control room's about its posts.
    [[nodiscard]] QString ownEntries() const;
    [[nodiscard]] std::vector<QStringList> rows(QSqlQuery& query);
    void readPostLane(TimelineLane& lane, const TimelineSpan& span);
    void readOwnLane(TimelineLane& lane, const TimelineSpan& span);
    void readMarks(TimelineLane& lane, const TimelineSpan& span);
    [[nodiscard]] qint64 knownUntil();

    QString fileName_;
    QString connection_;
    QSqlDatabase db_;
    QString problem_;
    int version_ = 0;
    bool central_ = false;
    bool live_ = false;
    std::optional<qint64> lastEntryMs_;
};
