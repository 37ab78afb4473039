// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "journal/journal_chain.h"
#include "journal_rows.h"
#include "qt_printing.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

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
    EXPECT_EQ(sqlValue(file, "PRAGMA journal_mode") + "|" + sqlValue(file, "PRAGMA user_version"), "wal|5");
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

// Each entry is chained to the one before: whatever is changed, put in or taken out of the file
// afterwards is found at its entry. Removing the oldest by retention or size leaves a chain that
// checks, and a journal of an older version is chained when opened, and says so.
TEST(JournalChain, EachTamperingIsFoundAtItsEntryAndRetentionKeepsItWhole)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("registo.sqlite");
    // One made by the version before the chain, with entries of its own.
    for (const char* statement :
         {"CREATE TABLE registo (id INTEGER PRIMARY KEY, hora_local TEXT NOT NULL, hora_utc TEXT NOT NULL, utc_ms INTEGER NOT NULL, origem TEXT, acao TEXT, "
          "sinal TEXT, modo TEXT, cor TEXT, porta TEXT, dispositivo TEXT, bytes INTEGER, resultado TEXT, motivo TEXT, pormenor TEXT, falha INTEGER NOT "
          "NULL DEFAULT 0, eco TEXT)",
          "INSERT INTO registo (id, hora_local, hora_utc, utc_ms, acao) VALUES (5, 'a', 'b', 0, 'antiga'), (7, 'a', 'b', 1000, 'antiga')", "PRAGMA user_version = 3"})
        sqlValue(file, statement);
    EXPECT_EQ(checkJournalChain(file).problem, "o registo ainda não tem cadeia: o programa encadeia-o quando o abrir");
    {
        Journal journal(file);
        for (int i = 0; i < 8; ++i) {
            JournalEntry e = journalEntry(Origin::Mouse, QString::number(i), QStringLiteral("enviado"), {}, {}, false);
            if (i == 3) e.post = QStringLiteral("curva-1"); // entry 12: a control room's, about a post
            journal.record(e);
        }
    }
    const ChainReport whole = checkJournalChain(file);
    EXPECT_EQ(std::tuple(whole.entries, whole.firstId, whole.lastId, whole.brokenAt), std::tuple(11, 5, 16, std::optional<qint64>()));
    EXPECT_EQ(journalRows(file, "resultado, pormenor", "id = 8"),
              QStringList{"registo encadeado|as 2 entradas anteriores foram encadeadas agora: uma alteração feita nelas antes disto não se pode ver"});
    EXPECT_EQ(verifyJournal(file), 0);
    const std::vector<std::tuple<const char*, qint64, const char*>> tampering{
        {"UPDATE registo SET resultado = 'falhou' WHERE id = 11", 11, "a entrada 11 não é a que foi escrita"},
        {"UPDATE registo SET acao = 'nova' WHERE id = 5", 5, "a entrada 5 não é a que foi escrita"},
        {"DELETE FROM registo WHERE id = 12", 13, "faltam as entradas de 12 a 12, depois da 11"},
        {"DELETE FROM registo WHERE id < 9", 9, "faltam as entradas de 5 a 8 no início"},
        {"INSERT INTO registo (id, hora_local, hora_utc, utc_ms, cadeia) SELECT 17, hora_local, hora_utc, utc_ms, cadeia FROM registo WHERE id = 16", 17,
         "a entrada 17 não é a que foi escrita"},
        {"INSERT INTO registo (id, hora_local, hora_utc, utc_ms, cadeia) VALUES (1, '', '', 0, 'x')", 1, "antes do início da cadeia"},
        {"UPDATE registo SET cadeia = NULL WHERE id = 14", 14, "a entrada 14 não tem elo"},
        {"UPDATE registo SET posto = 'reta-2' WHERE id = 12", 12, "a entrada 12 não é a que foi escrita"},
        {"UPDATE registo SET posto = 'curva-1' WHERE id = 13", 13, "a entrada 13 não é a que foi escrita"},
    };
    for (const auto& [statement, at, why] : tampering) {
        const QString copy = dir.filePath("alterado.sqlite");
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(file, copy));
        sqlValue(copy, statement);
        const ChainReport broken = checkJournalChain(copy);
        EXPECT_EQ(broken.brokenAt, std::optional<qint64>(at)) << statement;
        EXPECT_TRUE(broken.breakText.contains(QString::fromUtf8(why))) << broken.breakText.toStdString();
        EXPECT_EQ(verifyJournal(copy), 1);
    }
    EXPECT_EQ(verifyJournal(dir.filePath("nenhum.sqlite")), 2);

    // The oldest go, by retention and by size, and what stays still checks; its first entry's
    // predecessor is no longer there to be removed unseen.
    {
        Journal journal(file);
        journal.setRetention(1);
        journal.flush();
        EXPECT_EQ(checkJournalChain(file).firstId, 8);
        journal.setSizeLimit(1);
        for (int i = 0; i < 7000; ++i) journal.record(journalEntry(Origin::Mouse, QStringLiteral("x"), {}, {}, QString(200, QChar(u'ç')), false));
    }
    const ChainReport kept = checkJournalChain(file);
    EXPECT_TRUE(kept.firstId > 8 && kept.lastId == 7017 && !kept.brokenAt && kept.problem.isEmpty()) << kept.firstId << " " << kept.lastId << kept.breakText.toStdString();
    sqlValue(file, QStringLiteral("DELETE FROM registo WHERE id = %1").arg(kept.firstId));
    EXPECT_EQ(checkJournalChain(file).brokenAt, std::optional<qint64>(kept.firstId + 1));

    // A large older journal is chained a page at a time, every entry once.
    const QString large = dir.filePath("grande.sqlite");
    sqlValue(large, "CREATE TABLE registo (id INTEGER PRIMARY KEY, hora_local TEXT NOT NULL, hora_utc TEXT NOT NULL, utc_ms INTEGER NOT NULL, origem TEXT, acao "
                    "TEXT, sinal TEXT, modo TEXT, cor TEXT, porta TEXT, dispositivo TEXT, bytes INTEGER, resultado TEXT, motivo TEXT, pormenor TEXT, falha "
                    "INTEGER NOT NULL DEFAULT 0, eco TEXT)");
    sqlValue(large, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 25000) INSERT INTO registo (hora_local, hora_utc, utc_ms) "
                    "SELECT 'a', 'b', i FROM n");
    sqlValue(large, "PRAGMA user_version = 3");
    Journal(large).record({});
    const ChainReport chained = checkJournalChain(large);
    EXPECT_EQ(std::tuple(chained.entries, chained.brokenAt, chained.problem), std::tuple(qint64{25002}, std::optional<qint64>(), QString()));
}

} // namespace
