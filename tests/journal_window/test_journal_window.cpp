// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "journal_window/journal_window.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>

namespace {

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
              "Hora,Hora UTC,Origem,Acção,Sinal,Modo,Cor,Porta,Dispositivo,Bytes,Eco,Resultado,Motivo,Pormenor\r\n"
              "2026-12-07 08:05:03.042,"
                  + failedAt.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ").toStdString()
                  + ",teclado,sinal,Frente,monocor,Verde,COM2,/dev/ttyUSB0,10,,falhou na escrita,\"Ação falhou, \"\"linha\"\" caiu\",\"tentou\nde novo\"\r\n");
    EXPECT_NE(window.exportCsv("/proc/self/painel/registo.csv"), std::nullopt);

    // Whether the file is as written is said on top; altered, where it breaks, entries untouched.
    const auto chainSays = [](const JournalWindow& shown, const QString& text) {
        return QTest::qWaitFor([&] { return shown.findChild<QLabel*>("journalChain")->text().contains(text); }, 5000);
    };
    EXPECT_TRUE(chainSays(window, "Cadeia do registo íntegra: 3 entradas, da 1 à 3; último elo "));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
        db.setDatabaseName(journal.fileName());
        ASSERT_TRUE(db.open() && QSqlQuery(db).exec("UPDATE registo SET pormenor = 'outro' WHERE id = 2"));
    }
    QSqlDatabase::removeDatabase("tamper");
    const JournalWindow altered(journal);
    EXPECT_TRUE(chainSays(altered, "⚠ O registo foi alterado: a cadeia quebra-se na entrada 2 (2026-12-06 23:59:59.999)"));
    EXPECT_EQ(altered.findChild<QTableView*>("entries")->model()->rowCount(), 3);

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
    EXPECT_TRUE(chainSays(window, QStringLiteral("íntegra: %1 entradas, da 1 à %1;").arg(3 + more))); // the new ones alone checked
    EXPECT_TRUE(chainSays(altered, "a cadeia quebra-se na entrada 2 "));
    EXPECT_EQ(table->selectionModel()->selectedRows().value(0).row(), 1 + more);
    window.refresh();
    EXPECT_LT(model->rowCount(), 3 + more);
    EXPECT_TRUE(chainSays(window, "a cadeia quebra-se na entrada 2 ")); // reopened, the whole file again
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
