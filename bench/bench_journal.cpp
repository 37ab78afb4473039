// SPDX-License-Identifier: GPL-3.0-or-later
// The journal window with a year of entries: how long it takes to open, and how much it delays
// the window's event loop while entries are written, against the same writes with it closed.
// The journal is filled with ENTRIES (default 1,000,000) rows over the last year, 1 % of them
// failures; then entries are recorded five a second (MQTT's ceiling) for PHASE_SECONDS (default
// 5) at a time, the window closed and open in turn, four times each, after two seconds unmeasured. The event loop's delay is the
// lateness of a 5 ms precise timer.
#include "journal/journal.h"
#include "journal_window/journal_window.h"
#include "settings/more_settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Rows as the journal writes them, made by SQLite itself: a million in a few seconds.
bool fill(const QString& file, qint64 entries)
{
    bool filled = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            const qint64 end = QDateTime::currentMSecsSinceEpoch();
            const qint64 step = qint64{365} * 24 * 3600 * 1000 / entries;
            query.prepare(
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < :count) "
                               "INSERT INTO registo (hora_local, hora_utc, utc_ms, origem, acao, sinal, modo, cor, porta, dispositivo, bytes, "
                               "resultado, motivo, pormenor, falha) SELECT "
                               "strftime('%Y-%m-%d %H:%M:%f', t / 1000.0, 'unixepoch', 'localtime'), strftime('%Y-%m-%dT%H:%M:%fZ', t / 1000.0, 'unixepoch'), "
                               "t, 'remoto', 'sinal', 'Parar', 'multicor', '', 'COM1', '/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KXYZ-if00-port0', 43, "
                               "CASE WHEN i % 100 = 0 THEN 'falhou na escrita' ELSE 'enviado' END, "
                               "CASE WHEN i % 100 = 0 THEN 'a linha não aceitou os bytes a tempo' ELSE '' END, '', i % 100 = 0 "
                               "FROM (SELECT i, :end - (:count - i) * :step AS t FROM n)"));
            query.bindValue(QStringLiteral(":count"), entries);
            query.bindValue(QStringLiteral(":end"), end);
            query.bindValue(QStringLiteral(":step"), step);
            filled = db.transaction() && query.exec() && db.commit();
            if (!filled) std::fprintf(stderr, "bench_journal: %s\n", qPrintable(query.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return filled;
}

double p99(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms.empty() ? 0 : ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

// The timer's lateness, in ms, while entries are recorded five a second for `seconds`.
std::vector<double> delaysWhileWriting(Journal& journal, int seconds)
{
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 due = 5;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setSingleShot(true);
    QTimer writer;
    writer.setInterval(200);
    int written = 0;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        JournalEntry e;
        e.origin = Origin::Remote;
        e.action = QStringLiteral("sinal");
        e.sign = QStringLiteral("Frente %1").arg(++written);
        e.outcome = QStringLiteral("enviado");
        journal.record(std::move(e));
    });
    QEventLoop loop;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        late.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6 - static_cast<double>(due));
        if (clock.elapsed() > seconds * 1000) return loop.quit();
        due = clock.elapsed() + 5;
        probe.start(5);
    });
    writer.start();
    probe.start(5);
    loop.exec();
    journal.flush();
    return late;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const qint64 entries = qEnvironmentVariableIsSet("ENTRIES") ? qEnvironmentVariable("ENTRIES").toLongLong() : 1'000'000;
    const int seconds = qEnvironmentVariableIsSet("PHASE_SECONDS") ? qEnvironmentVariableIntValue("PHASE_SECONDS") : 5;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("registo.sqlite"));
    {
        Journal schema(file);
        schema.setRetention(MoreSettings::maxRetentionDays);
        schema.flush();
    }
    if (!fill(file, entries)) return 1;
    Journal journal(file);

    // Opening: made, shown, and its first page drawn.
    std::vector<double> opening;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        auto window = std::make_unique<JournalWindow>(journal);
        window->show();
        QCoreApplication::processEvents();
        opening.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(opening.begin(), opening.end());

    JournalWindow window(journal);
    // The file's first pages into the cache and the fill's write-ahead log checkpointed, unmeasured.
    (void)delaysWhileWriting(journal, 2);
    std::vector<double> closed, open;
    for (int round = 0; round < 4; ++round) {
        window.hide();
        const auto c = delaysWhileWriting(journal, seconds);
        closed.insert(closed.end(), c.begin(), c.end());
        window.show();
        const auto o = delaysWhileWriting(journal, seconds);
        open.insert(open.end(), o.begin(), o.end());
    }
    const double shut = p99(closed);
    const double shown = p99(open);
    std::printf("| journal window at %lld entries: opening, median of 5 | %.1f ms | 500 ms (goal) | %.2f |\n", static_cast<long long>(entries), opening[2],
                opening[2] / 500);
    std::printf("| event-loop delay, 99th percentile, entries written 5/s: window open vs closed | %.2f ms | %.2f ms | %.2f |\n", shown, shut,
                shut > 0 ? shown / shut : 0);
    return 0;
}
