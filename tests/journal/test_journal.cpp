// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "journal_rows.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

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
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode") + "|" + sqlValue(file, "PRAGMA user_version"), "wal|3");
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

} // namespace
