// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal_chain.h"

#include "journal/journal_store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <cstdio>
#include <limits>

const QStringList& chainedColumns()
{
    static const QStringList columns{QStringLiteral("id"),     QStringLiteral("hora_local"), QStringLiteral("hora_utc"),    QStringLiteral("utc_ms"),
                                     QStringLiteral("origem"), QStringLiteral("acao"),       QStringLiteral("sinal"),       QStringLiteral("modo"),
                                     QStringLiteral("cor"),    QStringLiteral("porta"),      QStringLiteral("dispositivo"), QStringLiteral("bytes"),
                                     QStringLiteral("eco"),    QStringLiteral("resultado"),  QStringLiteral("motivo"),      QStringLiteral("pormenor"),
                                     QStringLiteral("falha"),  QStringLiteral("posto")};
    return columns;
}

QByteArray chainLink(const QByteArray& previous, const QStringList& values)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(previous);
    // Each value with its length, so that no two entries run together into the same bytes.
    const bool withPost = values.size() == chainedColumns().size() && !values.constLast().isEmpty();
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i == chainedColumns().size() - 1 && !withPost) break;
        const QByteArray text = values.at(i).toUtf8();
        hash.addData(QByteArray::number(text.size()) + ':');
        hash.addData(text);
    }
    return hash.result().toHex();
}

namespace {

struct Connection {
    explicit Connection(const QString& fileName)
    {
        static std::atomic<int> serial{0};
        name = QStringLiteral("painel-verificacao-%1").arg(++serial);
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    }
    ~Connection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    QString name;
    QSqlDatabase db;
};

} // namespace

ChainReport checkJournalChain(const QString& fileName, const std::atomic<bool>* stop, const ChainReport* after)
{
    ChainReport report = after != nullptr ? *after : ChainReport{};
    if (!QFileInfo(fileName).isFile()) {
        report.problem = QStringLiteral("o ficheiro %1 não existe").arg(QDir::toNativeSeparators(fileName));
        return report;
    }
    Connection connection(fileName);
    if (!connection.db.open()) {
        report.problem = sqliteCause(connection.db.lastError(), fileName);
        return report;
    }
    QSqlQuery query(connection.db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        report.problem = sqliteCause(query.lastError(), fileName);
        return report;
    }
    const int version = query.value(0).toInt();
    if (version > journalSchemaVersion()) {
        report.problem = QStringLiteral("o registo foi criado por uma versão mais recente do programa");
        return report;
    }
    if (version < chainedSchemaVersion) {
        report.problem = QStringLiteral("o registo ainda não tem cadeia: o programa encadeia-o quando o abrir");
        return report;
    }
    if (!query.exec(QStringLiteral("SELECT id, anterior FROM cadeia_inicio")) || !query.next()) {
        report.problem = QStringLiteral("o registo não diz onde começa a sua cadeia");
        return report;
    }
    const bool resuming = after != nullptr && after->entries > 0;
    const qint64 startId = resuming ? after->lastId + 1 : query.value(0).toLongLong();
    QByteArray previous = resuming ? after->lastLink : query.value(1).toByteArray();
    query.finish();
    query.setForwardOnly(true);
    QStringList columns = chainedColumns();
    if (version < postSchemaVersion) columns.last() = QStringLiteral("NULL");
    query.prepare(QStringLiteral("SELECT %1, cadeia FROM registo WHERE id >= ? ORDER BY id").arg(columns.join(QStringLiteral(", "))));
    // Entries before the recorded start are part of no chain: put there afterwards.
    query.addBindValue(resuming ? startId : std::numeric_limits<qint64>::min());
    if (!query.exec()) {
        report.problem = sqliteCause(query.lastError(), fileName);
        return report;
    }
    const auto count = static_cast<int>(columns.size());
    qint64 expected = startId;
    QStringList values;
    while (query.next()) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            report.problem = QStringLiteral("verificação interrompida");
            return report;
        }
        values.clear();
        for (int i = 0; i < count; ++i) values << query.value(i).toString();
        const qint64 id = query.value(0).toLongLong();
        const QByteArray stored = query.value(count).toByteArray();
        QString broken;
        if (id < startId) broken = QStringLiteral("a entrada %1 está antes do início da cadeia (%2): foi posta lá depois").arg(id).arg(startId);
        else if (stored.isEmpty()) broken = QStringLiteral("a entrada %1 não tem elo na cadeia").arg(id);
        else if (chainLink(previous, values) != stored)
            broken = id == expected        ? QStringLiteral("a entrada %1 não é a que foi escrita: foi alterada, ou posta lá depois").arg(id)
                     : report.entries == 0 ? QStringLiteral("faltam as entradas de %1 a %2 no início da cadeia: foram apagadas").arg(startId).arg(id - 1)
                                           : QStringLiteral("faltam as entradas de %1 a %2, depois da %3: foram apagadas, ou a %4 foi alterada")
                                                 .arg(expected)
                                                 .arg(id - 1)
                                                 .arg(expected - 1)
                                                 .arg(id);
        if (!broken.isEmpty()) {
            report.brokenAt = id;
            report.breakText = broken;
            report.breakTime = values.at(1);
            return report;
        }
        if (report.entries == 0) report.firstId = id;
        report.lastId = id;
        ++report.entries;
        previous = stored;
        report.lastLink = stored;
        expected = id + 1;
    }
    if (query.lastError().isValid()) report.problem = sqliteCause(query.lastError(), fileName);
    return report;
}

int verifyJournal(const QString& fileName)
{
    const ChainReport report = checkJournalChain(fileName);
    const QString file = QDir::toNativeSeparators(fileName);
    if (!report.problem.isEmpty()) {
        std::fputs(QStringLiteral("não se pode verificar %1: %2\n").arg(file, report.problem).toUtf8().constData(), stderr);
        return 2;
    }
    QString text;
    if (report.brokenAt) {
        text = QStringLiteral("registo alterado: %1\na cadeia quebra-se na entrada %2 (%3): %4\n%5 entradas íntegras antes dela\n")
                   .arg(file)
                   .arg(*report.brokenAt)
                   .arg(report.breakTime, report.breakText)
                   .arg(report.entries);
    } else {
        text = report.entries == 0 ? QStringLiteral("registo íntegro: %1\nsem entradas\n").arg(file)
                                   : QStringLiteral("registo íntegro: %1\n%2 entradas, da %3 à %4\núltimo elo: %5\n")
                                         .arg(file)
                                         .arg(report.entries)
                                         .arg(report.firstId)
                                         .arg(report.lastId)
                                         .arg(QString::fromLatin1(report.lastLink));
    }
    std::fputs(text.toUtf8().constData(), stdout);
    return report.brokenAt ? 1 : 0;
}
