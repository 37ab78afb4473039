// SPDX-License-Identifier: GPL-3.0-or-later
// "Linha do tempo" on a day of a site: POSTS posts (default 1,000), each changing its sign every
// CHANGE_SECONDS (default 5) for HOURS (default 24), as the control room journals them, with a
// request to fifty posts every ten minutes, 1 % of the sends failed, 1 % without the echo and
// some posts going off line; the journal made by SQLite itself. Measured: opening the window on
// the whole day and on its last hour, zooming in by the key, scrolling a page of lanes and a
// tenth of the times, each until every lane in sight is read and drawn; and the event loop's
// delay through all of it (the lateness of a 5 ms precise timer), against the same window idle.
#include "journal/journal.h"
#include "timeline/timeline_model.h"
#include "timeline_window/timeline_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

qint64 setting(const char* name, qint64 fallback) { return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name).toLongLong() : fallback; }

// The control room's entries of the day, as it writes them: a state of each post in turn.
bool fill(const QString& file, qint64 posts, qint64 changeMs, qint64 start, qint64 end)
{
    bool filled = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            (void)query.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
            (void)query.exec(QStringLiteral("PRAGMA synchronous=OFF"));
            query.prepare(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < :count - 1), "
                "e AS (SELECT i, i % :posts AS p, :start + (i / :posts) * :change + (i % :posts) * 37 % :change AS t FROM n), "
                "f AS (SELECT i, p, t, strftime('%Y-%m-%dT%H:%M:%fZ', t / 1000.0, 'unixepoch') AS h, "
                "CASE (i / :posts + p) % 5 WHEN 0 THEN 'Parar' WHEN 1 THEN 'Frente' WHEN 2 THEN 'Direita' WHEN 3 THEN 'Esquerda' ELSE 'Xadrez' END AS s FROM e) "
                "INSERT INTO registo (hora_local, hora_utc, utc_ms, origem, acao, sinal, modo, cor, eco, resultado, pormenor, falha, posto) SELECT "
                "h, h, t, 'central', CASE WHEN i % 997 = 0 THEN 'posto fora de linha' ELSE 'sinal do posto' END, s, 'multicor', '', "
                "CASE WHEN i % 101 = 0 THEN 'sem eco' ELSE 'confirmado' END, CASE WHEN i % 103 = 0 THEN 'falhou na escrita' ELSE 'enviado' END, "
                "printf('posto-%04d; mostra %s; origem central; hora do posto %s; relógio do posto +%d ms', p, s, h, p % 2000), "
                "i % 101 = 0 OR i % 103 = 0 OR i % 997 = 0, printf('posto-%04d', p) FROM f WHERE t < :end"));
            const qint64 count = (end - start) / changeMs * posts;
            query.bindValue(QStringLiteral(":count"), count);
            query.bindValue(QStringLiteral(":posts"), posts);
            query.bindValue(QStringLiteral(":start"), start);
            query.bindValue(QStringLiteral(":change"), changeMs);
            query.bindValue(QStringLiteral(":end"), end);
            filled = db.transaction() && query.exec();
            // A request to a group of fifty every ten minutes.
            QSqlQuery requests(db);
            requests.prepare(QStringLiteral("INSERT INTO registo (hora_local, hora_utc, utc_ms, origem, acao, sinal, resultado, pormenor) VALUES "
                                            "('', '', ?, 'central', 'pedido', 'Parar', 'enviado', ?)"));
            for (qint64 t = start; filled && t < end; t += 600'000) {
                QStringList named;
                const qint64 first = (t / 600'000) * 50 % posts;
                for (qint64 p = first; p < first + 50; ++p) named << QStringLiteral("posto-%1").arg(p % posts, 4, 10, QLatin1Char('0'));
                requests.addBindValue(t);
                requests.addBindValue(QStringLiteral("pedido c-%1 a 50 postos: %2").arg(t).arg(named.join(QStringLiteral(", "))));
                filled = requests.exec();
            }
            filled = filled && db.commit();
            if (!filled) std::fprintf(stderr, "bench_timeline: %s %s\n", qPrintable(query.lastError().text()), qPrintable(requests.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return filled;
}

double percentile(std::vector<double> ms, int p)
{
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[std::min(ms.size() - 1, ms.size() * std::size_t(p) / 100)];
}

// The lateness of a 5 ms timer, in ms, for as long as it runs.
class Probe {
public:
    Probe()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            late_.push_back(double(clock_.nsecsElapsed()) / 1e6 - double(due_));
            due_ = clock_.elapsed() + 5;
            timer_.start(5);
        });
        clock_.start();
        due_ = 5;
        timer_.start(5);
    }
    std::vector<double> take() { return std::exchange(late_, {}); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 due_ = 0;
    std::vector<double> late_;
};

bool lanesInSight(const TimelineModel& model, const TimelineView& view)
{
    const TimelineLayout l = view.layoutOnScreen();
    if (!model.idle() || model.posts().isEmpty()) return false;
    for (int i = l.first; i <= std::min<int>(l.last, int(model.posts().size()) - 1); ++i)
        if (!model.isCurrent(i)) return false;
    return true;
}

// From `act` until every lane in sight is read and drawn, in ms.
double until(TimelineModel& model, TimelineView& view, const std::function<void()>& act)
{
    QElapsedTimer clock;
    clock.start();
    act();
    while (!lanesInSight(model, view)) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    view.viewport()->repaint();
    return double(clock.nsecsElapsed()) / 1e6;
}

void pressKey(TimelineView& view, int k)
{
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(view.viewport(), &press);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const qint64 posts = setting("POSTS", 1000);
    const qint64 changeMs = setting("CHANGE_SECONDS", 5) * 1000;
    const qint64 hours = setting("HOURS", 24);
    // JOURNAL names a file to keep and to use again as it is: a day takes minutes to make.
    QTemporaryDir dir;
    const QString kept = qEnvironmentVariable("JOURNAL");
    const QString file = !kept.isEmpty() ? kept : dir.filePath(QStringLiteral("registo-central.sqlite"));
    qint64 end = QDateTime::currentMSecsSinceEpoch();
    qint64 start = end - hours * 3600 * 1000;
    QElapsedTimer made;
    made.start();
    if (!QFileInfo::exists(file)) {
        {
            Journal schema(file);
            schema.setRetention(Journal::maxRetentionDays);
            schema.flush();
        }
        if (!fill(file, posts, changeMs, start, end)) return 1;
    } else {
        TimelineReader existing(file);
        const auto extent = existing.open() ? existing.extent() : std::nullopt;
        if (!extent) return 1;
        std::tie(start, end) = *extent;
    }
    const double fillSeconds = double(made.elapsed()) / 1000;

    QWidget window;
    window.resize(1400, 900);
    TimelineModel model;
    auto* view = new TimelineView(model, &window);
    view->setGeometry(window.rect());
    window.show();
    Probe probe;
    const double openDay = until(model, *view, [&] {
        model.open(file);
        view->setRange(start, end);
        view->showTimes(start, end);
    });
    // One drawing of the whole day's lanes in sight, on the window's thread: each lane drawn
    // afresh (a pixel wider each time), and as kept.
    std::vector<double> paints, again;
    for (int i = 0; i < 5; ++i) {
        view->resize(view->width() + (i % 2 == 0 ? 1 : -1), view->height());
        QElapsedTimer clock;
        clock.start();
        view->viewport()->repaint();
        paints.push_back(double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
        view->viewport()->repaint();
        again.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::vector<double> zooms, pages, sideways;
    for (int i = 0; i < 5; ++i) zooms.push_back(until(model, *view, [&] { pressKey(*view, Qt::Key_Plus); }));
    for (int i = 0; i < 5; ++i)
        pages.push_back(
            until(model, *view, [&] { view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + view->verticalScrollBar()->pageStep()); }));
    for (int i = 0; i < 10; ++i) sideways.push_back(until(model, *view, [&] { pressKey(*view, Qt::Key_Left); }));
    const double openHour = until(model, *view, [&] {
        model.open(file);
        view->verticalScrollBar()->setValue(0);
        view->showTimes(end - 3600 * 1000, end);
    });
    const std::vector<double> busy = probe.take();
    // The same window left alone, for the floor.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const std::vector<double> quiet = probe.take();

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
    db.setDatabaseName(file);
    qint64 rows = 0;
    if (db.open()) {
        QSqlQuery count(QStringLiteral("SELECT max(id) FROM registo"), db);
        if (count.next()) rows = count.value(0).toLongLong();
    }
    std::printf("Timeline: %lld posts, a change every %lld s for %lld h: %lld entries, %.0f MB, made in %.0f s\n", static_cast<long long>(posts),
                static_cast<long long>(changeMs / 1000), static_cast<long long>(hours), static_cast<long long>(rows), double(QFileInfo(file).size()) / 1e6,
                fillSeconds);
    std::printf("| timeline: opened on the whole day, every lane in sight drawn | %.0f ms | 1000 ms (goal) | %.2f |\n", openDay, openDay / 1000);
    std::printf("| timeline: opened on the last hour | %.0f ms | 1000 ms (goal) | %.2f |\n", openHour, openHour / 1000);
    std::printf("| timeline: the day's lanes in sight drawn afresh (the window's thread), median of 5 | %.1f ms | 16.7 ms (a frame at 60 Hz) | %.2f |\n",
                median(paints), median(paints) / 16.7);
    std::printf("| timeline: the same, drawn again as kept | %.1f ms | 16.7 ms (a frame at 60 Hz) | %.2f |\n", median(again), median(again) / 16.7);
    std::printf("| timeline: zoom in one key (x1.5), lanes read again, median of 5 | %.0f ms | 100 ms (goal) | %.2f |\n", median(zooms), median(zooms) / 100);
    std::printf("| timeline: a page of lanes down, median of 5 | %.0f ms | 100 ms (goal) | %.2f |\n", median(pages), median(pages) / 100);
    std::printf("| timeline: a tenth of the times back, median of 10 | %.0f ms | 100 ms (goal) | %.2f |\n", median(sideways), median(sideways) / 100);
    std::printf("| timeline: event-loop delay, 99th percentile, through all of it vs idle | %.2f ms | %.2f ms | %.2f |\n", percentile(busy, 99),
                percentile(quiet, 99), percentile(quiet, 99) > 0 ? percentile(busy, 99) / percentile(quiet, 99) : 0);
    return 0;
}
