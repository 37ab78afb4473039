// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "journal/journal_window.h"
#include "journal_rows.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// SQLite's own view of the file: one value of a statement.
QString sqlValue(const QString& file, const QString& statement)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-value");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(statement, db);
            if (query.next()) value = query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase("test-value");
    return value;
}

// The journal keeps both times to the millisecond in a WAL file with its schema's version, and
// drops what is older than the retention when it is set, at start-up or shortened.
TEST(JournalFile, IsVersionedInWalModeAndKeptToItsRetention)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("state/painel-sinaletico/registo.sqlite");
    const QDateTime now = QDateTime::currentDateTime();
    {
        Journal journal(file);
        for (const int daysAgo : {400, 366, 364, 10, 0}) {
            JournalEntry e;
            e.when = now.addDays(-daysAgo);
            e.action = QString::number(daysAgo);
            journal.record(e);
        }
    }
    EXPECT_EQ(journalRows(file, "acao").join(","), "400,366,364,10,0");
    EXPECT_EQ(journalRows(file, "hora_local, hora_utc", "acao = '0'").join(""), now.toString("yyyy-MM-dd HH:mm:ss.zzz|") + now.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"));
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode") + "|" + sqlValue(file, "PRAGMA user_version"), "wal|2");
    Journal journal(file);
    for (const auto& [days, kept] : {std::pair{365, "364,10,0"}, {5, "0"}}) {
        journal.setRetention(days);
        journal.flush();
        EXPECT_EQ(journalRows(file, "acao").join(","), kept) << days;
    }

    // Past its size the oldest entries go, the newest stay, and it is said once.
    const auto usedBytes = [&] { return sqlValue(file, "PRAGMA page_count").toLongLong() - sqlValue(file, "PRAGMA freelist_count").toLongLong(); };
    journal.setSizeLimit(1);
    for (const int burst : {6000, 1000}) {
        for (int i = 0; i < burst; ++i) {
            JournalEntry e;
            e.action = QStringLiteral("%1-%2").arg(burst).arg(i);
            e.detail = QString(200, QChar(u'ç'));
            journal.record(e);
        }
        journal.flush();
    }
    journal.flush();
    EXPECT_LE(usedBytes() * sqlValue(file, "PRAGMA page_size").toLongLong(), 1024 * 1024);
    const QStringList left = journalRows(file, "acao, resultado");
    EXPECT_EQ(left.filter("entradas mais antigas apagadas").size(), 1);
    EXPECT_TRUE(left.contains("1000-999|")) << left.last().toStdString();
    EXPECT_FALSE(left.contains("6000-0|"));
    EXPECT_GT(left.size(), 1000);
}

// A corrupt file is set aside under a name with the time, untouched, and a new one begun; a
// journal that cannot be kept says so once, however many entries come, and nothing waits.
TEST(JournalFile, ACorruptFileIsSetAsideAndOneThatCannotBeKeptIsSaidOnce)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("registo.sqlite");
    const QByteArray garbage(8192, 'x');
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write(garbage) == garbage.size());
    damaged.close();
    {
        Journal journal(file);
        journal.record({});
        journal.flush();
        QCoreApplication::processEvents();
        EXPECT_EQ(journal.problem(), "");
    }
    const QStringList aside = QDir(dir.path()).entryList({"registo.sqlite.corrompido-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression("^registo.sqlite.corrompido-\\d{8}-\\d{6}$").match(aside[0]).hasMatch()) << aside[0].toStdString();
    QFile setAside(dir.filePath(aside[0]));
    ASSERT_TRUE(setAside.open(QIODevice::ReadOnly));
    EXPECT_EQ(setAside.readAll(), garbage);
    EXPECT_EQ(journalRows(file).size(), 1);

    // /proc stands in for a read-only folder, which root could still write.
    const QString newer = dir.filePath("newer.sqlite");
    EXPECT_EQ(sqlValue(newer, "PRAGMA user_version = 99"), "");
    for (const auto& [path, why] : {std::pair{QString("/proc/self/painel-sinaletico/registo.sqlite"), "não foi possível criar a pasta"}, {newer, "versão mais recente"}}) {
        Journal journal(path);
        QSignalSpy said(&journal, &Journal::problemChanged);
        for (int i = 0; i < 3; ++i) {
            journal.record({});
            journal.flush();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !said.isEmpty(); }, 2000)) << path.toStdString();
        QCoreApplication::processEvents();
        EXPECT_EQ(said.count(), 1);
        EXPECT_TRUE(journal.problem().startsWith("O registo não está a ser guardado: ") && journal.problem().contains(why)) << journal.problem().toStdString();
    }
    EXPECT_EQ(sqlValue(newer, "PRAGMA user_version") + sqlValue(newer, "SELECT count(*) FROM sqlite_master"), "990");

    // A file that cannot be opened (a folder stands in its place) until it can: what waited is
    // written, and the note goes, with no new entry to set it off. SQLite's words are kept for
    // the journal's detail; the operator reads the cause.
    const QString heldFile = dir.filePath("registo-retido.sqlite");
    ASSERT_TRUE(QDir().mkpath(heldFile));
    Journal held(heldFile);
    for (int i = 0; i <= 10'000; ++i) held.record({}); // one more than is kept in memory
    held.flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !held.problem().isEmpty(); }, 2000));
    EXPECT_EQ(held.problem(), "O registo não está a ser guardado: o ficheiro " + heldFile + " não se pode abrir: é uma pasta");
    QTest::qWait(2 * Journal::gatherMs); // past that entry's own gathering: only a retry writes it now
    ASSERT_TRUE(QDir(heldFile).removeRecursively());
    EXPECT_TRUE(QTest::qWaitFor([&] { return held.problem().isEmpty(); }, 6000)); // tried again every 2 s
    held.flush();
    EXPECT_EQ(journalRows(held.fileName(), "count(*)", "acao IS NULL"), QStringList{"10000"});
    EXPECT_EQ(journalRows(held.fileName(), "acao, resultado, motivo, pormenor", "acao IS NOT NULL").join("\n").toStdString(),
              ("registo|entradas perdidas||1 entradas mais antigas não foram guardadas enquanto o registo esteve indisponível\n"
               "registo|voltou a ser guardado|o ficheiro "
               + heldFile + " não se pode abrir: é uma pasta|unable to open database file Error opening database")
                  .toStdString());
}

// Newest first, by day and failures only; the CSV is what the table shows, with accents, commas,
// quotes and line feeds intact.
TEST(JournalWindowTest, FiltersAndExportsWhatItShows)
{
    QTemporaryDir dir;
    Journal journal(dir.filePath("registo.sqlite"));
    const auto entry = [](const QDateTime& when, const char* sign, bool failure) {
        JournalEntry e;
        e.when = when;
        e.action = "sinal";
        e.sign = QString::fromUtf8(sign);
        e.failure = failure;
        return e;
    };
    const QDateTime failedAt(QDate(2026, 12, 7), QTime(8, 5, 3, 42));
    JournalEntry failed = entry(failedAt, "Frente", true);
    failed.origin = Origin::Keyboard;
    failed.mode = "monocor";
    failed.colour = "Verde";
    failed.port = 2;
    failed.device = "/dev/ttyUSB0";
    failed.bytes = 10;
    failed.outcome = "falhou na escrita";
    failed.reason = "Ação falhou, \"linha\" caiu";
    failed.detail = "tentou\nde novo";
    // The clock set back between two entries: each still shows under its own day.
    journal.record(failed);
    journal.record(entry(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 999)), "Parar", false));
    journal.record(entry(failedAt.addSecs(60), "Xadrez", false));
    journal.flush();

    JournalWindow window(journal);
    auto* day = window.findChild<QComboBox*>("day");
    auto* onlyFailures = window.findChild<QCheckBox*>("onlyFailures");
    // Each access key belongs to one control: Alt+F ticks "Só falhas" rather than moving the focus.
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return onlyFailures->isChecked(); }, 2000));
    onlyFailures->setChecked(false);
    QAbstractItemModel* model = window.findChild<QTableView*>("entries")->model();
    QStringList days;
    for (int i = 0; i < day->count(); ++i) days << day->itemText(i);
    EXPECT_EQ(days.join("|"), "Todos os dias|07-12-2026|06-12-2026");
    const auto shown = [&] {
        QStringList signs;
        for (int row = 0; row < model->rowCount(); ++row) signs << model->index(row, 4).data().toString();
        return signs;
    };
    for (const auto& [dayIndex, failures, signs] : {std::tuple{0, false, "Xadrez,Parar,Frente"}, {1, false, "Xadrez,Frente"}, {2, false, "Parar"}, {0, true, "Frente"}}) {
        day->setCurrentIndex(dayIndex);
        onlyFailures->setChecked(failures);
        EXPECT_EQ(shown().join(","), signs) << dayIndex << failures;
    }
    const QString csv = dir.filePath("registo.csv");
    ASSERT_EQ(window.exportCsv(csv), std::nullopt);
    QFile exported(csv);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll().toStdString(),
              "Hora,Hora UTC,Origem,Acção,Sinal,Modo,Cor,Porta,Dispositivo,Bytes,Resultado,Motivo,Pormenor\r\n"
              "2026-12-07 08:05:03.042,"
                  + failedAt.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ").toStdString()
                  + ",teclado,sinal,Frente,monocor,Verde,COM2,/dev/ttyUSB0,10,falhou na escrita,\"Ação falhou, \"\"linha\"\" caiu\",\"tentou\nde novo\"\r\n");
    EXPECT_NE(window.exportCsv("/proc/self/painel/registo.csv"), std::nullopt);

    // Open, it puts what is written on top and keeps the operator's place; reopened, it reads a
    // page at a time, and every row comes once, in order, as the operator scrolls or exports.
    auto* table = window.findChild<QTableView*>("entries");
    day->setCurrentIndex(0);
    onlyFailures->setChecked(false);
    table->selectRow(1);
    constexpr int more = 451; // the newest a failure, so the export's last row counts
    for (int i = 0; i < more; ++i) journal.record(entry(QDateTime::currentDateTime(), QByteArray::number(i), i % 3 == 0));
    journal.flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 3 + more; }, 2000)) << model->rowCount();
    EXPECT_EQ(model->index(0, 4).data().toString(), QString::number(more - 1));
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1 + more);
    window.refresh();
    EXPECT_LT(model->rowCount(), 3 + more);
    for (const bool failures : {false, true}) {
        onlyFailures->setChecked(failures);
        while (model->canFetchMore({})) model->fetchMore({});
        QStringList expected;
        for (int i = more - 1; i >= 0; --i)
            if (!failures || i % 3 == 0) expected << QString::number(i);
        expected << (failures ? QStringList{"Frente"} : QStringList{"Xadrez", "Parar", "Frente"});
        EXPECT_EQ(shown(), expected) << failures;
    }
    exported.close();
    ASSERT_EQ(window.exportCsv(csv), std::nullopt);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_EQ(exported.readAll().count("\r\n"), 1 + (more + 2) / 3 + 1); // the header and the failures
}

} // namespace
