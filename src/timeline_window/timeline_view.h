// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/timeline_reader.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>

#include <functional>
#include <optional>

class QPainter;
class TimelineModel;

// How a part of the timeline is laid out on a page or a screen: the lanes first to last, the
// times from and to across `area` after the posts' names.
struct TimelineLayout {
    QRect area;
    int nameWidth = 150;
    int axisHeight = 26;
    int laneHeight = 24;
    qint64 fromMs = 0;
    qint64 toMs = 1;
    int first = 0;
    int last = -1;
};

// Draws the lanes as the model has them: each sign a bar in its colours (the flag striped),
// offline spans hatched grey, the lamp test dotted; a failed send outlined red under a red
// triangle, a missing echo dashed under a hollow circle, a request left unanswered a hollow
// square, a start-up a black stroke, and race control's requests as blue strokes across the
// lanes they named. Shapes say it as well as colours. Used by the window and the PDF alike.
struct TimelineContent {
    const QStringList& posts;
    std::function<const TimelineLane*(int index)> lane; // nullptr while it is being read
    const std::vector<TimelineRequest>& requests;
    std::function<QString(const QString& post)> nameOf;
    // The lane's bars drawn (timelineLaneImage), or kept from before; drawn afresh when unset.
    std::function<QImage(int index, const TimelineLane& lane, const TimelineLayout& layout, QSize size)> image = {};
};
// A lane's bars, a pixel column at a time, `size` large.
[[nodiscard]] QImage timelineLaneImage(const TimelineLane& lane, const TimelineLayout& layout, QSize size);
// The same in words, for the window's tooltip and the report.
[[nodiscard]] QString timelineLegend();
void paintTimeline(QPainter& painter, const TimelineContent& content, const TimelineLayout& layout,
                   std::optional<std::pair<int, qint64>> selected = std::nullopt);

// The lanes of the timeline, zoomed by the wheel and the keys (+, -), scrolled by the bars and
// the keys (arrows, Page Up and Down, Home and End), a bar's entries asked for with a click.
class TimelineView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TimelineView(TimelineModel& model, QWidget* parent = nullptr);

    // The times the view may show; what is in sight stays within them.
    void setRange(qint64 fromMs, qint64 toMs);
    [[nodiscard]] std::pair<qint64, qint64> range() const { return {rangeFrom_, rangeTo_}; }
    // The times in sight, kept within the range and no narrower than a second.
    void showTimes(qint64 fromMs, qint64 toMs);
    [[nodiscard]] std::pair<qint64, qint64> visibleTimes() const { return {viewFrom_, viewTo_}; }
    // Narrower by `factor` above 1, wider below it, about the time under `aboutMs` (the middle).
    void zoom(double factor, std::optional<qint64> aboutMs = std::nullopt);
    void setClock(TimelineClock clock);
    // What a lane is called: the post's name where it is known.
    void nameLanes(std::function<QString(const QString&)> nameOf);
    [[nodiscard]] TimelineLayout layoutOnScreen() const;
    [[nodiscard]] qint64 timeAt(int x) const;
    [[nodiscard]] int laneAt(int y) const;

signals:
    // A bar's entries, or a request's: the lane's post, the times on the control room's clock.
    void picked(const QString& post, qint64 fromMs, qint64 toMs, const QString& what);
    void requestPicked(const TimelineRequest& request);
    // The operator moved the times in sight.
    void moved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateBars();
    // What the model reads: the times in sight and as much again each side, at a pixel's detail;
    // read again only once the view leaves it or the detail changes much.
    void updateSpan();
    void wantLanes();
    void pick(const QPoint& at);

    TimelineModel& model_;
    std::function<QString(const QString&)> nameOf_;
    qint64 rangeFrom_ = 0;
    qint64 rangeTo_ = 1;
    qint64 viewFrom_ = 0;
    qint64 viewTo_ = 1;
    TimelineClock clock_ = TimelineClock::Central;
    qint64 scrollUnitMs_ = 1;
    bool settingBars_ = false;
    std::optional<std::pair<int, qint64>> selected_;
    // Each lane in sight as last drawn: lanes come in a few at a time, and only those are drawn
    // again, unless the times or the size changed.
    struct Drawn {
        quint64 read = 0;
        qint64 fromMs = 0;
        qint64 toMs = 0;
        QImage image;
    };
    QHash<int, Drawn> drawn_;
};
