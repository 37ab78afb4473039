// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline_window/timeline_view.h"

#include "timeline/timeline_model.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr qint64 secondMs = 1000;
constexpr qint64 minimumSpanMs = secondMs;

const QColor red(0xC6, 0x28, 0x28);
const QColor green(0x2E, 0x7D, 0x32);
const QColor amber(0xF9, 0xA8, 0x25);
const QColor unknown(0xCF, 0xD8, 0xDC);
const QColor offlineGrey(0x61, 0x61, 0x61);
const QColor requestBlue(0x15, 0x65, 0xC0);
const QColor silenceSlate(0x37, 0x47, 0x4F);
const QColor noEchoOrange(0xE6, 0x51, 0x00);

// The sign's own colours, or the mono-colour mode's.
QColor colourOf(const TimelineBar& bar)
{
    if (bar.colour == QLatin1String("vermelho")) return red;
    if (bar.colour == QLatin1String("verde")) return green;
    if (bar.colour == QLatin1String("amarelo")) return amber;
    if (bar.sign == QLatin1String("Parar")) return red;
    if (bar.sign == QLatin1String("Frente") || bar.sign == QLatin1String("Xadrez")) return green;
    if (bar.sign == QLatin1String("Direita") || bar.sign == QLatin1String("Esquerda")) return amber;
    return unknown;
}

int xOf(const TimelineLayout& l, qint64 ms)
{
    const int left = l.area.left() + l.nameWidth;
    const double span = double(std::max<qint64>(1, l.toMs - l.fromMs));
    const double x = left + double(ms - l.fromMs) * double(l.area.right() - left) / span;
    return int(std::clamp(x, double(left) - 2, double(l.area.right()) + 2));
}

// A lane's bars, a pixel column at a time into one image: a day of a thousand posts puts a bar
// in nearly every column, and one painter call each would hold the window up.
} // namespace

QImage timelineLaneImage(const TimelineLane& lane, const TimelineLayout& l, QSize size)
{
    QImage image(std::max(1, size.width()), std::max(1, size.height()), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const int left = l.area.left() + l.nameWidth;
    const QRgb light = QColor(0xEE, 0xEE, 0xEE).rgb();
    const QRgb white = QColor(Qt::white).rgb();
    const QRgb dark = offlineGrey.rgb();
    for (const TimelineBar& bar : lane.bars) {
        const int x0 = std::clamp(xOf(l, bar.fromMs) - left, 0, image.width() - 1);
        const int x1 = std::clamp(std::max(x0 + 1, xOf(l, bar.toMs) - left), 0, image.width());
        const QRgb solid = colourOf(bar).rgb();
        const bool flag = bar.sign == QLatin1String("Xadrez") && bar.colour.isEmpty() && !bar.offline && !bar.test;
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = x0; x < x1; ++x) {
                // Shapes as well as colours: the flag striped, off line cross-hatched, the test dotted.
                if (bar.offline) line[x] = (x + y) % 6 == 0 || (x - y + 600) % 6 == 0 ? dark : light;
                else if (bar.test) line[x] = x % 3 == 0 && y % 3 == 0 ? dark : white;
                else if (flag) line[x] = ((x + y) / 5) % 2 == 0 ? red.rgb() : green.rgb();
                else line[x] = solid;
            }
        }
        // A failed send outlined red, a missing echo dashed orange.
        if (bar.failed == 0 && bar.noEcho == 0) continue;
        const QRgb edge = bar.failed > 0 ? red.rgb() : noEchoOrange.rgb();
        for (const int y : {0, 1, image.height() - 2, image.height() - 1}) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(std::max(0, y)));
            for (int x = x0; x < x1; ++x)
                if (bar.failed > 0 || (x / 3) % 2 == 0) line[x] = edge;
        }
        for (int y = 0; y < image.height(); ++y)
            if (bar.failed > 0 || (y / 3) % 2 == 0) reinterpret_cast<QRgb*>(image.scanLine(y))[x0] = edge;
    }
    return image;
}

namespace {

// The marks above a bar, drawn once and then copied: a day can have thousands in sight.
const QImage& markImage(bool failed)
{
    static const auto make = [](bool failed) {
        QImage image(11, 8, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        if (failed) {
            p.setPen(Qt::NoPen);
            p.setBrush(red);
            p.drawPolygon(QPolygonF({QPointF(1, 0), QPointF(10, 0), QPointF(5.5, 7)}));
        } else {
            p.setPen(QPen(noEchoOrange, 2));
            p.setBrush(Qt::white);
            p.drawEllipse(QRectF(2.5, 1, 6, 6));
        }
        return image;
    };
    static const QImage triangle = make(true);
    static const QImage circle = make(false);
    return failed ? triangle : circle;
}

void triangleDown(QPainter& p, int x, int top, int size, const QColor& fill)
{
    QPainterPath path;
    path.moveTo(x - size, top);
    path.lineTo(x + size, top);
    path.lineTo(x, top + size + 2);
    path.closeSubpath();
    p.fillPath(path, fill);
}

// Ticks no closer than about 90 pixels, at a round step.
qint64 tickStep(qint64 spanMs, int width)
{
    static constexpr std::array<qint64, 16> steps{1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 21600, 43200};
    const qint64 wanted = spanMs * 90 / std::max(1, width);
    for (const qint64 s : steps)
        if (s * secondMs >= wanted) return s * secondMs;
    return 86400 * secondMs;
}

void paintAxis(QPainter& p, const TimelineLayout& l)
{
    const int left = l.area.left() + l.nameWidth;
    const QRect axis(left, l.area.top(), l.area.right() - left, l.axisHeight);
    p.fillRect(QRect(l.area.left(), l.area.top(), l.area.width(), l.axisHeight), QColor(0xF5, 0xF5, 0xF5));
    const qint64 step = tickStep(l.toMs - l.fromMs, axis.width());
    // Ticks on the local clock's round times.
    const qint64 local = QDateTime::fromMSecsSinceEpoch(l.fromMs).offsetFromUtc() * secondMs;
    qint64 t = ((l.fromMs + local) / step + 1) * step - local;
    const bool seconds = step < 60 * secondMs;
    p.setPen(Qt::black);
    for (; t < l.toMs; t += step) {
        const int x = xOf(l, t);
        p.drawLine(x, axis.bottom() - 5, x, axis.bottom());
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(t);
        QString text = when.toString(seconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
        if (when.time().msecsSinceStartOfDay() < step) text = when.toString(QStringLiteral("dd-MM ")) + text;
        p.drawText(QRect(x - 60, axis.top(), 120, axis.height() - 6), Qt::AlignHCenter | Qt::AlignBottom, text);
    }
}

} // namespace

QString timelineLegend()
{
    return QStringLiteral("Legenda: barra na cor do sinal (bandeira às riscas); cinzento tracejado fora de linha; contorno vermelho e ▼ envio falhado; "
                          "contorno laranja e ○ sem eco do cabo; □ sem resposta; traço preto arranque; traço azul pedido da central.");
}

void paintTimeline(QPainter& p, const TimelineContent& content, const TimelineLayout& l, std::optional<std::pair<int, qint64>> selected)
{
    p.save();
    p.setClipRect(l.area);
    paintAxis(p, l);
    const int left = l.area.left() + l.nameWidth;
    QHash<QString, int> rows; // the posts in sight, by their row
    for (int i = l.first; i <= l.last && i < content.posts.size(); ++i) {
        const int top = l.area.top() + l.axisHeight + (i - l.first) * l.laneHeight;
        if (top > l.area.bottom()) break;
        rows.insert(content.posts.at(i), top);
        const QRect lane(l.area.left(), top, l.area.width(), l.laneHeight);
        p.fillRect(lane, i % 2 == 0 ? QColor(Qt::white) : QColor(0xFA, 0xFA, 0xFA));
        const QString post = content.posts.at(i);
        p.setPen(Qt::black);
        p.drawText(QRect(lane.left() + 4, top, l.nameWidth - 8, l.laneHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   p.fontMetrics().elidedText(content.nameOf ? content.nameOf(post) : post, Qt::ElideRight, l.nameWidth - 8));
        const TimelineLane* read = content.lane(i);
        if (read == nullptr) {
            p.setPen(Qt::gray);
            p.drawText(QRect(left + 4, top, 200, l.laneHeight), Qt::AlignVCenter, QStringLiteral("a ler…"));
            continue;
        }
        const QSize size(l.area.right() - left, l.laneHeight - 8);
        p.drawImage(QPoint(left, top + 4), content.image ? content.image(i, *read, l, size) : timelineLaneImage(*read, l, size));
        int lastMark = -1000; // left of any lane
        for (const TimelineBar& bar : read->bars) {
            if (bar.failed == 0 && bar.noEcho == 0 && !selected) continue;
            const int x0 = xOf(l, bar.fromMs);
            const QRect r(x0, top + 4, std::max(1, xOf(l, bar.toMs) - x0), l.laneHeight - 8);
            // One mark where several fall within a few pixels; a failure before a missing echo.
            if ((bar.failed > 0 || bar.noEcho > 0) && x0 - lastMark >= 6) {
                p.drawImage(QPoint(x0 - 5, top - 2), markImage(bar.failed > 0));
                lastMark = x0;
            }
            if (selected && selected->first == i && bar.fromMs <= selected->second && selected->second < std::max(bar.toMs, bar.fromMs + 1)) {
                p.setPen(QPen(Qt::black, 2));
                p.drawRect(r.adjusted(-1, -2, 1, 2));
            }
        }
        for (const TimelineMark& mark : read->marks) {
            const int x = xOf(l, mark.ms);
            switch (mark.kind) {
            case MarkKind::Failure: triangleDown(p, x, top, 5, red); break;
            case MarkKind::Silence:
                p.setPen(QPen(silenceSlate, 2));
                p.setBrush(Qt::white);
                p.drawRect(QRect(x - 4, top + l.laneHeight / 2 - 4, 8, 8));
                p.setBrush(Qt::NoBrush);
                break;
            case MarkKind::Startup:
                p.setPen(QPen(Qt::black, 2));
                p.drawLine(x, top + 2, x, top + l.laneHeight - 2);
                break;
            }
        }
    }
    // Race control's requests, across the lanes they named, and on the axis.
    for (const TimelineRequest& request : content.requests) {
        if (request.ms < l.fromMs || request.ms > l.toMs) continue;
        const int x = xOf(l, request.ms);
        triangleDown(p, x, l.area.top() + l.axisHeight - 8, 5, requestBlue);
        p.setPen(QPen(requestBlue, 2));
        const auto across = [&](int top) { p.drawLine(x, top + 1, x, top + l.laneHeight - 1); };
        if (request.everyone) {
            for (const int top : std::as_const(rows)) across(top);
            continue;
        }
        for (const QString& post : request.posts)
            if (const auto found = rows.constFind(post); found != rows.constEnd()) across(*found);
    }
    p.setPen(QColor(0xBD, 0xBD, 0xBD));
    p.drawLine(left, l.area.top(), left, l.area.bottom());
    p.restore();
}

TimelineView::TimelineView(TimelineModel& model, QWidget* parent) : QAbstractScrollArea(parent), model_(model)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Linha do tempo: um posto em cada linha, cada sinal uma barra"));
    setToolTip(timelineLegend());
    viewport()->setMinimumHeight(120);
    connect(&model_, &TimelineModel::lanesRead, viewport(), qOverload<>(&QWidget::update));
    connect(&model_, &TimelineModel::opened, this, [this] {
        updateBars();
        wantLanes();
        viewport()->update();
    });
}

void TimelineView::nameLanes(std::function<QString(const QString&)> nameOf)
{
    nameOf_ = std::move(nameOf);
    viewport()->update();
}

void TimelineView::setClock(TimelineClock clock)
{
    clock_ = clock;
    updateSpan();
}

void TimelineView::setRange(qint64 fromMs, qint64 toMs)
{
    rangeFrom_ = fromMs;
    rangeTo_ = std::max(fromMs + minimumSpanMs, toMs);
    showTimes(viewFrom_, viewTo_);
}

void TimelineView::showTimes(qint64 fromMs, qint64 toMs)
{
    const qint64 range = rangeTo_ - rangeFrom_;
    qint64 length = std::clamp(toMs - fromMs, std::min(minimumSpanMs, range), range);
    fromMs = std::clamp(fromMs, rangeFrom_, rangeTo_ - length);
    viewFrom_ = fromMs;
    viewTo_ = fromMs + length;
    updateBars();
    updateSpan();
    viewport()->update();
}

void TimelineView::zoom(double factor, std::optional<qint64> aboutMs)
{
    const qint64 about = aboutMs.value_or((viewFrom_ + viewTo_) / 2);
    const double share = double(about - viewFrom_) / double(std::max<qint64>(1, viewTo_ - viewFrom_));
    const auto length = qint64(std::llround(double(viewTo_ - viewFrom_) / factor));
    const qint64 from = about - qint64(std::llround(share * double(length)));
    showTimes(from, from + length);
    emit moved();
}

TimelineLayout TimelineView::layoutOnScreen() const
{
    TimelineLayout l;
    l.area = viewport()->rect();
    l.fromMs = viewFrom_;
    l.toMs = viewTo_;
    l.first = verticalScrollBar()->value();
    l.last = l.first + (l.area.height() - l.axisHeight) / l.laneHeight;
    return l;
}

qint64 TimelineView::timeAt(int x) const
{
    const TimelineLayout l = layoutOnScreen();
    const int left = l.area.left() + l.nameWidth;
    return viewFrom_ + qint64(double(x - left) * double(viewTo_ - viewFrom_) / double(std::max(1, l.area.right() - left)));
}

int TimelineView::laneAt(int y) const
{
    const TimelineLayout l = layoutOnScreen();
    if (y < l.axisHeight) return -1;
    const int lane = l.first + (y - l.axisHeight) / l.laneHeight;
    return lane < model_.posts().size() ? lane : -1;
}

void TimelineView::updateBars()
{
    settingBars_ = true;
    const TimelineLayout l = layoutOnScreen();
    const int rows = std::max(1, (l.area.height() - l.axisHeight) / l.laneHeight);
    verticalScrollBar()->setRange(0, std::max(0, int(model_.posts().size()) - rows));
    verticalScrollBar()->setPageStep(rows);
    // The horizontal bar in steps of a thousandth of the range at most, within an int.
    scrollUnitMs_ = std::max<qint64>(1, (rangeTo_ - rangeFrom_) / 100'000);
    horizontalScrollBar()->setRange(0, int((rangeTo_ - rangeFrom_ - (viewTo_ - viewFrom_)) / scrollUnitMs_));
    horizontalScrollBar()->setPageStep(int(std::max<qint64>(1, (viewTo_ - viewFrom_) / scrollUnitMs_)));
    horizontalScrollBar()->setSingleStep(std::max(1, horizontalScrollBar()->pageStep() / 10));
    horizontalScrollBar()->setValue(int((viewFrom_ - rangeFrom_) / scrollUnitMs_));
    settingBars_ = false;
}

void TimelineView::updateSpan()
{
    const TimelineLayout l = layoutOnScreen();
    const qint64 length = viewTo_ - viewFrom_;
    const qint64 bucket = std::max<qint64>(1, length / std::max(1, l.area.width() - l.nameWidth));
    const TimelineSpan& read = model_.span();
    const double detail = double(bucket) / double(std::max<qint64>(1, read.bucketMs));
    const bool inside = read.fromMs <= viewFrom_ && viewTo_ <= read.toMs;
    if (!inside || detail < 0.7 || detail > 1.4 || read.clock != clock_) {
        TimelineSpan span;
        span.fromMs = std::max(rangeFrom_, viewFrom_ - length);
        // Past the range's end too: following now, the range moves on every second, and the
        // lanes are read again only once it has moved a window's length.
        span.toMs = viewTo_ + length;
        span.bucketMs = bucket;
        span.clock = clock_;
        model_.setSpan(span);
    }
    wantLanes();
}

void TimelineView::wantLanes()
{
    const TimelineLayout l = layoutOnScreen();
    model_.want(l.first, l.last);
}

void TimelineView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const TimelineLayout layout = layoutOnScreen();
    // Lanes out of sight are forgotten now and then.
    if (drawn_.size() > 4 * (layout.last - layout.first + 1)) drawn_.clear();
    const auto image = [this](int index, const TimelineLane& lane, const TimelineLayout& l, QSize size) {
        Drawn& kept = drawn_[index];
        const quint64 read = model_.readNumber(index);
        if (kept.read != read || kept.fromMs != l.fromMs || kept.toMs != l.toMs || kept.image.size() != size)
            kept = Drawn{read, l.fromMs, l.toMs, timelineLaneImage(lane, l, size)};
        return kept.image;
    };
    const TimelineContent content{model_.posts(), [this](int i) { return model_.lane(i); }, model_.requests(), nameOf_, image};
    paintTimeline(p, content, layout, selected_);
    if (model_.posts().isEmpty()) {
        p.setPen(Qt::gray);
        p.drawText(viewport()->rect(), Qt::AlignCenter, model_.idle() ? QStringLiteral("Sem entradas no registo.") : QStringLiteral("A ler o registo…"));
    }
}

void TimelineView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateBars();
    updateSpan();
}

void TimelineView::scrollContentsBy(int, int)
{
    if (settingBars_) return;
    const qint64 from = rangeFrom_ + qint64(horizontalScrollBar()->value()) * scrollUnitMs_;
    if (from != viewFrom_) {
        const qint64 length = viewTo_ - viewFrom_;
        viewFrom_ = from;
        viewTo_ = from + length;
        updateSpan();
        emit moved();
    } else {
        wantLanes();
    }
    viewport()->update();
}

void TimelineView::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (event->modifiers() & Qt::ShiftModifier || delta.x() != 0) {
        // Sideways through the times; with Shift some systems turn the wheel itself sideways.
        const int turn = delta.x() != 0 ? delta.x() : delta.y();
        showTimes(viewFrom_ - (viewTo_ - viewFrom_) * turn / 1200, viewTo_ - (viewTo_ - viewFrom_) * turn / 1200);
        emit moved();
    } else if (delta.y() != 0) {
        zoom(std::pow(1.25, delta.y() / 120.0), timeAt(int(event->position().x())));
    }
    event->accept();
}

void TimelineView::keyPressEvent(QKeyEvent* event)
{
    const qint64 length = viewTo_ - viewFrom_;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(1.5); break;
    case Qt::Key_Minus: zoom(1 / 1.5); break;
    case Qt::Key_Left:
        showTimes(viewFrom_ - length / 10, viewTo_ - length / 10);
        emit moved();
        break;
    case Qt::Key_Right:
        showTimes(viewFrom_ + length / 10, viewTo_ + length / 10);
        emit moved();
        break;
    case Qt::Key_Home:
        showTimes(rangeFrom_, rangeFrom_ + length);
        emit moved();
        break;
    case Qt::Key_End:
        showTimes(rangeTo_ - length, rangeTo_);
        emit moved();
        break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    event->accept();
}

void TimelineView::mousePressEvent(QMouseEvent* event)
{
    setFocus();
    pick(event->position().toPoint());
}

void TimelineView::pick(const QPoint& at)
{
    const qint64 t = timeAt(at.x());
    const qint64 slack = (viewTo_ - viewFrom_) * 4 / std::max(1, viewport()->width());
    const int index = laneAt(at.y());
    if (index < 0) {
        // On the axis: the request nearest, if one is within a few pixels.
        const TimelineRequest* nearest = nullptr;
        for (const TimelineRequest& request : model_.requests())
            if (std::abs(request.ms - t) <= slack && (nearest == nullptr || std::abs(request.ms - t) < std::abs(nearest->ms - t))) nearest = &request;
        if (nearest != nullptr) emit requestPicked(*nearest);
        return;
    }
    const TimelineLane* lane = model_.lane(index);
    if (lane == nullptr) return;
    for (const TimelineBar& bar : lane->bars) {
        if (t < bar.fromMs || t >= std::max(bar.toMs, bar.fromMs + slack)) continue;
        selected_ = std::pair{index, bar.fromMs};
        viewport()->update();
        // Its entries are found by the control room's time: the post's own clock taken back.
        const qint64 back = clock_ == TimelineClock::Post ? lane->clockOffsetMs.value_or(0) : 0;
        const QString what = bar.offline          ? QStringLiteral("fora de linha")
                             : bar.test           ? QStringLiteral("teste do painel")
                             : bar.sign.isEmpty() ? QStringLiteral("sinal desconhecido")
                                                  : bar.sign;
        emit picked(lane->post, bar.fromMs - back, std::max(bar.toMs, bar.fromMs + 1) - back, what);
        return;
    }
}
