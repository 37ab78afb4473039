// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "timeline/timeline_model.h"
#include "timeline_window/timeline_view.h"
#include "timeline_window/timeline_window.h"

#include "journal_rows.h"
#include "site_journal.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <set>

namespace {

QByteArray digest(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

struct Site {
    QTemporaryDir dir;
    QString file = dir.filePath("registo-central.sqlite");
    // A minute that ended a little before now, within the window's first hour.
    QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-120);
    qint64 t = start.toMSecsSinceEpoch();
    Journal journal{file};
    Site() { writeSiteMinute(journal, start); }
};

bool lanesRead(TimelineModel& model) { return model.idle() && model.isCurrent(0) && model.isCurrent(1); }

// The window draws what the journal says, a click shows a bar's entries, the keys zoom and
// scroll, and the range goes out as a PDF whose text says it all, and as CSV.
TEST(TimelineWindowTest, ShowsTheLanesABarsEntriesAndExportsTheRange)
{
    Site site;
    TimelineWindow window(site.journal, QStringLiteral("sala de controlo central-a"));
    window.show();
    window.setRange(site.t, site.t + 60'000);
    TimelineModel& model = window.model();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lanesRead(model); }, 5000));
    ASSERT_EQ(model.posts(), (QStringList{"curva-1", "reta-2"}));
    std::vector<QString> shown;
    for (const TimelineBar& bar : model.lane(0)->bars) shown.push_back(bar.offline ? "fora" : bar.sign + (bar.failed > 0 ? " falhou" : ""));
    EXPECT_EQ(shown, (std::vector<QString>{"Parar", "Xadrez", "Xadrez falhou"}));
    EXPECT_TRUE(model.lane(1)->bars.back().offline);
    EXPECT_EQ(model.lane(0)->marks.size(), 1U);
    EXPECT_EQ(model.requests().size(), 1U);

    // Drawn: each sign in its colours, the flag striped, off line hatched, and the marks' shapes.
    TimelineView& view = window.view();
    const TimelineLayout layout = view.layoutOnScreen();
    const int left = layout.nameWidth;
    const QImage shot = view.viewport()->grab().toImage();
    const auto xAt = [&](qint64 ms) { return left + int(double(ms) / 60'000 * (layout.area.right() - left)); };
    // The colours found in a box `w` wide and `h` high from `dy` below the lane's top, at `ms`.
    const auto coloursAt = [&](int lane, qint64 ms, int dy, int w, int h) {
        std::set<QRgb> found;
        for (int x = xAt(ms); x < xAt(ms) + w; ++x)
            for (int y = layout.axisHeight + lane * layout.laneHeight + dy; y < layout.axisHeight + lane * layout.laneHeight + dy + h; ++y)
                found.insert(shot.pixel(x, y) & 0xFFFFFF);
        return found;
    };
    const auto has = [](const std::set<QRgb>& found, QRgb colour) { return found.count(colour) != 0; };
    EXPECT_EQ(coloursAt(0, 10'000, 8, 10, 8), std::set<QRgb>{0xC62828}) << "Parar, red";
    EXPECT_TRUE(has(coloursAt(0, 30'000, 8, 12, 4), 0xC62828) && has(coloursAt(0, 30'000, 8, 12, 4), 0x2E7D32)) << "the flag, red and green";
    EXPECT_TRUE(has(coloursAt(1, 30'000, 6, 12, 12), 0x616161) && has(coloursAt(1, 30'000, 6, 12, 12), 0xEEEEEE)) << "off line, hatched";
    EXPECT_TRUE(has(coloursAt(0, 40'000, 0, 2, 3), 0xC62828)) << "the failed send's triangle";
    EXPECT_TRUE(has(coloursAt(1, 0, 0, 8, 6), 0xE65100)) << "the missing echo's circle";
    EXPECT_TRUE(has(coloursAt(0, 29'900, 6, 10, 12), 0x37474F)) << "the silence's square";
    const int x = xAt(25'000);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, QPoint(x, layout.axisHeight + layout.laneHeight / 2));
    auto* entries = window.findChild<QTableWidget*>("entries");
    EXPECT_EQ(entries->rowCount(), 2) << "the state, and the request it left unanswered";
    EXPECT_TRUE(window.findChild<QLabel*>("entriesTitle")->text().startsWith("curva-1: Xadrez"));
    EXPECT_EQ(entries->item(0, 3)->text(), "sinal do posto");

    QTest::keyClick(view.viewport(), Qt::Key_Plus);
    auto [from, to] = view.visibleTimes();
    EXPECT_EQ(to - from, 40'000);
    QTest::keyClick(view.viewport(), Qt::Key_End);
    std::tie(from, to) = view.visibleTimes();
    EXPECT_EQ(std::pair(from, to), std::pair(site.t + 20'000, site.t + 60'000));
    QTest::keyClick(view.viewport(), Qt::Key_Minus);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lanesRead(model); }, 5000));
    // On each post's own clock the lanes are read again: curva-1's runs 1.2 s ahead.
    window.findChild<QComboBox*>("clock")->setCurrentIndex(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lanesRead(model); }, 5000));
    EXPECT_EQ(model.lane(0)->bars.front().fromMs, site.t + 1200);
    window.findChild<QComboBox*>("clock")->setCurrentIndex(0);

    // The report: header, lanes and the entries' table, as text a reader can search.
    const QString pdf = site.dir.filePath("relatorio.pdf");
    EXPECT_EQ(window.exportPdf(pdf), std::nullopt);
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(30'000));
    const QString report = QString::fromUtf8(text.readAllStandardOutput());
    // Each entry's time whole, and words as they are written (no ligature in "confirmado").
    for (const QString& expected : {QString("Linha do tempo — sala de controlo central-a"), QString("Período:"), QString("Exportado em:"), QString("último elo"),
                                    QString("curva-1"), QString("reta-2"), QString("sinal do posto"), QString("sem resposta"), QString("falhou na escrita"), QString("confirmado"),
                                    QString("pedido p-1 a 2 postos"), site.start.toLocalTime().toString("yyyy-MM-dd HH:mm:ss.zzz")})
        EXPECT_TRUE(report.contains(expected)) << expected.toStdString() << "\n" << report.toStdString();

    const QString csv = site.dir.filePath("relatorio.csv");
    EXPECT_EQ(window.exportCsv(csv), std::nullopt);
    QFile written(csv);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    EXPECT_EQ(lines.size(), 9) << "a header, the minute's seven entries, and the last line's end";
    EXPECT_TRUE(lines[0].endsWith("Posto\r"));

    // A folder that cannot be written: said, and nothing left there, whole or half.
    QFile blocker(site.dir.filePath("nao-e-pasta"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const auto& failure : {window.exportPdf(blocker.fileName() + "/r.pdf"), window.exportCsv(blocker.fileName() + "/r.csv")}) {
        ASSERT_TRUE(failure.has_value());
        EXPECT_TRUE(failure->contains("nao-e-pasta")) << failure->toStdString();
    }
    EXPECT_EQ(QDir(site.dir.path()).entryList(QDir::Files).size(), 6) << "the journal and its WAL and index, the two reports, the file in the way";
}

// A journal altered, written by a newer version or damaged is shown as it is, for reading only,
// with the reason on top; the file is never touched.
TEST(TimelineWindowTest, ShowsAnAlteredNewerOrDamagedJournalAsItIsWithTheReason)
{
    Site site;
    site.journal.flush();
    TimelineWindow window(site.journal, QStringLiteral("sala"));
    window.show();
    const QString altered = site.dir.filePath("alterado.sqlite");
    const QString newer = site.dir.filePath("recente.sqlite");
    const QString damaged = site.dir.filePath("danificado.sqlite");
    const QString halfMigrated = site.dir.filePath("meio.sqlite");
    for (const QString& copy : {altered, newer, damaged, halfMigrated})
        for (const QString& part : {QString(), QStringLiteral("-wal")}) ASSERT_TRUE(QFile::copy(site.file + part, copy + part));
    sqlValue(altered, "UPDATE registo SET resultado = 'enviado', falha = 0 WHERE id = 7");
    sqlValue(newer, "PRAGMA user_version = 99");
    sqlValue(damaged, "PRAGMA wal_checkpoint(TRUNCATE)");
    // Its version says the posts' column is there; it is not.
    for (const char* undo : {"DROP INDEX registo_posto", "ALTER TABLE registo DROP COLUMN posto"}) sqlValue(halfMigrated, undo);
    {
        // The table's first page overwritten.
        QFile f(damaged);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.seek(4096));
        f.write(QByteArray(4096, '\xff'));
    }
    for (const auto& [file, reason] :
         {std::pair{altered, "O registo foi alterado: a cadeia quebra-se na entrada 7"}, std::pair{newer, "versão mais recente do programa: mostra-se o que esta versão conhece"},
          std::pair{damaged, "está danificado"}, std::pair{halfMigrated, "não tem as tabelas e colunas que a sua versão diz"}}) {
        const QByteArray before = digest(file);
        window.openFile(file);
        window.setRange(site.t, site.t + 60'000);
        if (file == altered || file == newer) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return lanesRead(window.model()); }, 5000)) << file.toStdString();
        }
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return window.findChild<QLabel*>("timelineChain")->text().contains(QString::fromUtf8(reason))
                       || window.findChild<QLabel*>("timelineProblem")->text().contains(QString::fromUtf8(reason));
            },
            5000))
            << reason;
        EXPECT_TRUE(window.windowTitle().endsWith("(só leitura)"));
        EXPECT_EQ(digest(file), before);
    }
}

} // namespace
