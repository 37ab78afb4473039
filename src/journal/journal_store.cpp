// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal_store.h"

#include "journal/journal.h"
#include "journal/journal_chain.h"
#include "panel/port_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

namespace {

// SQLite's primary result codes that mean the file itself is damaged.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

// Kept in memory while the file cannot be written; beyond this the oldest are counted as lost.
constexpr std::size_t maxPending = 10'000;

// Each step takes the schema from the version before it to its own; a file is brought up to
// date one step at a time, each step in a transaction of its own.
const std::vector<QStringList> migrations{
    {QStringLiteral("CREATE TABLE registo (id INTEGER PRIMARY KEY, hora_local TEXT NOT NULL, hora_utc TEXT NOT NULL, "
                    "utc_ms INTEGER NOT NULL, origem TEXT, acao TEXT, sinal TEXT, modo TEXT, cor TEXT, porta TEXT, "
                    "dispositivo TEXT, bytes INTEGER, resultado TEXT, motivo TEXT, pormenor TEXT, falha INTEGER NOT NULL DEFAULT 0)"),
     // One index on every entry only: each one more is pages more to write with every entry.
     QStringLiteral("CREATE INDEX registo_utc_ms ON registo (utc_ms)")},
    // The failures, for the window's "Só falhas", without a scan of a year of entries; written
    // only with a failure.
    {QStringLiteral("CREATE INDEX registo_falhas ON registo (id) WHERE falha = 1")},
    // The cable's echo of each send: off, or how it came back.
    {QStringLiteral("ALTER TABLE registo ADD COLUMN eco TEXT")},
    // Each entry's link in the chain, and where the kept chain starts (the entry before the
    // first kept one, by its link), so that removing the oldest never breaks it.
    {QStringLiteral("ALTER TABLE registo ADD COLUMN cadeia TEXT"), QStringLiteral("CREATE TABLE cadeia_inicio (id INTEGER NOT NULL, anterior TEXT NOT NULL)"),
     QStringLiteral("INSERT INTO cadeia_inicio SELECT coalesce(min(id), 1), '' FROM registo")},
    // The post a control room's entry is about, so that the timeline reads a lane by its index
    // rather than the whole day, and its requests likewise; each written only for those entries.
    // A lane's entries lie among every other post's: the index holds what sums up a pixel of
    // them, so that only the last of each pixel is read from the table.
    {QStringLiteral("ALTER TABLE registo ADD COLUMN posto TEXT"),
     QStringLiteral("CREATE INDEX registo_posto ON registo (posto, utc_ms, acao, falha, resultado, eco) WHERE posto IS NOT NULL"),
     QStringLiteral("CREATE INDEX registo_pedidos ON registo (utc_ms) WHERE acao = 'pedido'")},
};
const int schemaVersion = static_cast<int>(migrations.size());

static_assert(chainedSchemaVersion == 4 && postSchemaVersion == 5);

// A time in the journal's words, "2026-12-08 10:15:02.120" (or with 'T' and 'Z' in UTC), written
// out by hand: QDateTime's formatting costs more than the rest of an entry.
QString timeText(qint64 ms, char separator, const char* zone)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    const QDate d = t.date();
    const QTime c = t.time();
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d%c%02d:%02d:%02d.%03d%s", d.year(), d.month(), d.day(), separator, c.hour(), c.minute(), c.second(),
                  c.msec(), zone);
    return QString::fromLatin1(text.data());
}

int primaryCode(const QSqlError& error) { return error.nativeErrorCode().toInt() & 0xFF; }

// What the journal says of itself.
JournalEntry journalNote(const QString& outcome, const QString& reason, const QString& detail, bool failure)
{
    return journalEntry(Origin::Operator, QStringLiteral("registo"), outcome, reason, detail, failure);
}

} // namespace

int journalSchemaVersion() { return schemaVersion; }

QString sqliteCause(const QSqlError& error, const QString& fileName)
{
    // The program's own reasons come without SQLite's code, already in the operator's words.
    if (error.nativeErrorCode().isEmpty()) return error.text();
    const QString file = QDir::toNativeSeparators(fileName);
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    switch (primaryCode(error)) {
    case 1:
        return QStringLiteral("o ficheiro %1 não tem as tabelas e colunas que a sua versão diz").arg(file); // SQLITE_ERROR: a schema not as its version says
    case 3:                                                                                                 // SQLITE_PERM
    case 23: return QStringLiteral("o sistema não deixa usar o ficheiro %1").arg(file);                     // SQLITE_AUTH
    case 5:                                                                                                 // SQLITE_BUSY
    case 6: return QStringLiteral("o ficheiro %1 está ocupado por outro programa").arg(file);               // SQLITE_LOCKED
    case 7: return QStringLiteral("falta memória");                                                         // SQLITE_NOMEM
    case 8: return QStringLiteral("o ficheiro %1 só se pode ler").arg(file);                                // SQLITE_READONLY
    case 10: return QStringLiteral("o disco falhou ao ler ou escrever o ficheiro %1").arg(file);            // SQLITE_IOERR
    case 11:                                                                                                // SQLITE_CORRUPT
    case 26: return QStringLiteral("o ficheiro %1 está danificado").arg(file);                              // SQLITE_NOTADB
    case 13: return QStringLiteral("o disco do ficheiro %1 está cheio").arg(file);                          // SQLITE_FULL
    case 14:                                                                                                // SQLITE_CANTOPEN
        if (folder.isDir() && !folder.isWritable())
            return QStringLiteral("o ficheiro %1 não se pode abrir: a pasta %2 não deixa escrever").arg(file, QDir::toNativeSeparators(folder.filePath()));
        if (QFileInfo(fileName).isDir()) return QStringLiteral("o ficheiro %1 não se pode abrir: é uma pasta").arg(file);
        return QStringLiteral("o ficheiro %1 não se pode abrir").arg(file);
    default: return QStringLiteral("o ficheiro %1 não se pode usar (SQLite, código %2)").arg(file, error.nativeErrorCode());
    }
}

JournalStore::JournalStore(QString fileName, Journal& owner, QObject& context) : fileName_(std::move(fileName)), owner_(owner), timers_(new QObject(&context))
{
    static std::atomic<int> serial{0};
    connection_ = QStringLiteral("painel-registo-%1").arg(++serial);
}

JournalStore::~JournalStore()
{
    // What waits, then the notes that writing it made (the size limit's, say).
    writeOut();
    writeOut();
    close();
    delete timers_;
}

void JournalStore::gather()
{
    QTimer::singleShot(Journal::gatherMs, timers_, [this] { drain(); });
}

void JournalStore::prune(int days)
{
    retentionDays_ = days;
    if (!db_.isOpen()) {
        (void)open(); // which prunes
        return;
    }
    if (QSqlError error; !pruneNow(error)) failed(error);
}

void JournalStore::limitSize(int megabytes)
{
    maxBytes_ = qint64{megabytes} * 1024 * 1024;
    if (!db_.isOpen()) {
        (void)open(); // which trims
        return;
    }
    if (QSqlError error; !trimToSize(error)) failed(error);
}

bool JournalStore::open()
{
    if (db_.isOpen()) return true;
    if (!QDir().mkpath(QFileInfo(fileName_).absolutePath()))
        return trouble(QStringLiteral("não foi possível criar a pasta %1").arg(QFileInfo(fileName_).absolutePath()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db_.setDatabaseName(fileName_);
        // Another process holding the file is waited for a little, here and never in the window.
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db_.open()) {
            met();
            return trouble(db_.lastError());
        }
        QSqlError error;
        const bool prepared = prepare(error);
        met();
        if (prepared) return true;
        close();
        const bool corrupt = primaryCode(error) == sqliteCorrupt || primaryCode(error) == sqliteNotADatabase;
        if (!corrupt || attempt > 0) return trouble(error);
        if (!setAside()) return trouble(QStringLiteral("o ficheiro está danificado e não se pode pôr de parte"));
    }
    return false;
}

bool JournalStore::prepare(QSqlError& error)
{
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("PRAGMA quick_check")) || !query.next()) {
        error = query.lastError();
        return false;
    }
    if (query.value(0).toString() != QLatin1String("ok")) {
        error = QSqlError(query.value(0).toString(), {}, QSqlError::StatementError, QString::number(sqliteCorrupt));
        return false;
    }
    // WAL lets the journal window read while entries are written; NORMAL syncs only at
    // checkpoints, which keeps each entry cheap and loses at most the last ones on power loss.
    for (const QString& pragma : {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=NORMAL")}) {
        if (!query.exec(pragma)) {
            error = query.lastError();
            return false;
        }
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        error = query.lastError();
        return false;
    }
    const int version = query.value(0).toInt();
    if (version > schemaVersion) {
        error = QSqlError(QStringLiteral("o registo foi criado por uma versão mais recente do programa"), {}, QSqlError::UnknownError);
        return false;
    }
    for (int step = version; step < schemaVersion; ++step) {
        db_.transaction();
        for (const QString& statement : migrations[static_cast<std::size_t>(step)] + QStringList{QStringLiteral("PRAGMA user_version=%1").arg(step + 1)}) {
            if (!query.exec(statement)) {
                error = query.lastError();
                db_.rollback();
                return false;
            }
        }
        if (step + 1 == chainedSchemaVersion && !chainExisting(error)) {
            db_.rollback();
            return false;
        }
        if (!db_.commit()) {
            error = db_.lastError();
            return false;
        }
    }
    return loadChainEnd(error) && pruneNow(error) && trimToSize(error);
}

bool JournalStore::chainExisting(QSqlError& error)
{
    QSqlQuery rows(db_);
    rows.setForwardOnly(true);
    // No entry chained here has a post: the column came after.
    const QStringList columns = chainedColumns().first(chainedColumns().size() - 1);
    rows.prepare(QStringLiteral("SELECT %1 FROM registo WHERE id > ? ORDER BY id LIMIT 10000").arg(columns.join(QStringLiteral(", "))));
    QSqlQuery update(db_);
    update.prepare(QStringLiteral("UPDATE registo SET cadeia = ? WHERE id = ?"));
    // A page at a time, each read whole before it is written (SQLite's reading cursor and writes
    // to the same table do not mix): a year of entries never sits in memory at once.
    QByteArray link;
    qint64 last = std::numeric_limits<qint64>::min();
    qint64 chained = 0;
    std::vector<std::pair<qint64, QStringList>> page;
    do {
        page.clear();
        rows.addBindValue(last);
        if (!rows.exec()) {
            error = rows.lastError();
            return false;
        }
        while (rows.next()) {
            QStringList values;
            for (int i = 0; i < columns.size(); ++i) values << rows.value(i).toString();
            page.emplace_back(rows.value(0).toLongLong(), std::move(values));
        }
        rows.finish();
        for (const auto& [id, values] : page) {
            link = chainLink(link, values);
            update.addBindValue(QString::fromLatin1(link));
            update.addBindValue(id);
            if (!update.exec()) {
                error = update.lastError();
                return false;
            }
            last = id;
            ++chained;
        }
    } while (!page.empty());
    // First in the next batch: it comes before whatever was written after it.
    if (chained > 0)
        pending_.push_front(journalNote(
            QStringLiteral("registo encadeado"), {},
            QStringLiteral("as %1 entradas anteriores foram encadeadas agora: uma alteração feita nelas antes disto não se pode ver").arg(chained), false));
    return true;
}

bool JournalStore::loadChainEnd(QSqlError& error)
{
    QSqlQuery query(db_);
    if (query.exec(QStringLiteral("SELECT id, cadeia FROM registo ORDER BY id DESC LIMIT 1")) && query.next()) {
        nextId_ = query.value(0).toLongLong() + 1;
        lastLink_ = query.value(1).toByteArray();
        return true;
    }
    if (!query.lastError().isValid() && query.exec(QStringLiteral("SELECT id, anterior FROM cadeia_inicio")) && query.next()) {
        nextId_ = query.value(0).toLongLong();
        lastLink_ = query.value(1).toByteArray();
        return true;
    }
    error = query.lastError().isValid()
                ? query.lastError()
                : QSqlError(QStringLiteral("o registo não diz onde começa a sua cadeia"), {}, QSqlError::StatementError, QString::number(sqliteCorrupt));
    return false;
}

bool JournalStore::removeBefore(qint64 id, QSqlError& error, qint64* removed)
{
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("SELECT cadeia FROM registo WHERE id < ? ORDER BY id DESC LIMIT 1"));
    query.addBindValue(id);
    if (!query.exec()) {
        error = query.lastError();
        return false;
    }
    if (!query.next()) return true;
    const QString before = query.value(0).toString();
    db_.transaction();
    query.prepare(QStringLiteral("DELETE FROM registo WHERE id < ?"));
    query.addBindValue(id);
    bool done = query.exec();
    if (done && removed != nullptr) *removed += query.numRowsAffected();
    if (done) {
        query.prepare(QStringLiteral("UPDATE cadeia_inicio SET id = ?, anterior = ?"));
        query.addBindValue(id);
        query.addBindValue(before);
        done = query.exec();
    }
    if (done && db_.commit()) return true;
    error = query.lastError().isValid() ? query.lastError() : db_.lastError();
    db_.rollback();
    return false;
}

bool JournalStore::pruneNow(QSqlError& error)
{
    if (retentionDays_ <= 0) return true;
    // Up to the first entry still within the retention, by number: a clock set back can leave
    // an older time after a newer one, and only the oldest entries may go or the chain breaks.
    QSqlQuery query(db_);
    query.prepare(QStringLiteral("SELECT coalesce((SELECT min(id) FROM registo WHERE utc_ms >= ?), (SELECT max(id) + 1 FROM registo))"));
    query.addBindValue(QDateTime::currentMSecsSinceEpoch() - qint64{retentionDays_} * 24 * 3600 * 1000);
    if (!query.exec()) {
        error = query.lastError();
        return false;
    }
    return !query.next() || query.value(0).isNull() || removeBefore(query.value(0).toLongLong(), error);
}

bool JournalStore::trimToSize(QSqlError& error)
{
    if (maxBytes_ <= 0) return true;
    QSqlQuery query(db_);
    const auto value = [&](const QString& sql) -> std::optional<qint64> {
        if (query.exec(sql) && query.next()) return query.value(0).toLongLong();
        error = query.lastError();
        return std::nullopt;
    };
    qint64 removed = 0;
    for (int round = 0; round < 20; ++round) {
        const auto pages = value(QStringLiteral("PRAGMA page_count"));
        const auto unused = value(QStringLiteral("PRAGMA freelist_count"));
        const auto pageSize = value(QStringLiteral("PRAGMA page_size"));
        if (!pages || !unused || !pageSize) return false;
        const qint64 used = (*pages - *unused) * *pageSize;
        if (used <= maxBytes_) break;
        const auto first = value(QStringLiteral("SELECT min(id) FROM registo"));
        const auto last = value(QStringLiteral("SELECT max(id) FROM registo"));
        if (!first || !last) return false;
        // The newest entry always stays.
        if (*last <= *first) break;
        const qint64 span = *last - *first + 1;
        const qint64 count = std::clamp(span * (used - maxBytes_ * 9 / 10) / used, qint64{1}, span - 1);
        if (!removeBefore(*first + count, error, &removed)) return false;
    }
    if (removed > 0 && !saidTrimmed_) {
        saidTrimmed_ = true;
        owner_.record(
            journalNote(QStringLiteral("entradas mais antigas apagadas"), QStringLiteral("o registo chegou a %1 MB").arg(maxBytes_ / (1024 * 1024)),
                        QStringLiteral("%1 entradas apagadas; daqui em diante apagam-se sem outra nota até o programa voltar a arrancar").arg(removed), false));
    }
    return true;
}

bool JournalStore::setAside()
{
    const QString aside = fileName_ + QStringLiteral(".corrompido-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(fileName_, aside)) return false;
    QFile::rename(fileName_ + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(fileName_ + QStringLiteral("-shm"));
    return true;
}

void JournalStore::drain()
{
    writeOut();
    if (pending_.empty() || retrying_) return;
    retrying_ = true;
    QTimer::singleShot(Journal::retryMs, timers_, [this] {
        retrying_ = false;
        drain();
    });
}

void JournalStore::writeOut()
{
    for (JournalEntry& e : owner_.takeQueued()) pending_.push_back(std::move(e));
    while (pending_.size() > maxPending) {
        pending_.pop_front();
        ++lost_;
    }
    if (pending_.empty() || !open()) return;
    db_.transaction();
    QSqlQuery insert(db_);
    // Every column the link covers, in its order, then the link.
    insert.prepare(QStringLiteral("INSERT INTO registo (%1, cadeia) VALUES (?%2)")
                       .arg(chainedColumns().join(QStringLiteral(", ")), QStringLiteral(",?").repeated(int(chainedColumns().size()))));
    // The numbers and the link an entry takes are kept only once the batch is written.
    const qint64 firstId = nextId_;
    const QByteArray firstLink = lastLink_;
    const auto undo = [&](const QSqlError& error) {
        nextId_ = firstId;
        lastLink_ = firstLink;
        failed(error);
    };
    // Each port's name and device are looked up once a batch.
    std::map<int, std::pair<QString, QString>> ports;
    const auto portOf = [&](int port) -> const std::pair<QString, QString>& {
        const auto found = ports.find(port);
        if (found != ports.end()) return found->second;
        return ports[port] = portNames_ ? portNames_(port) : std::pair{QString::fromStdString(portName(port)), QString()};
    };
    const auto insertOne = [&](const JournalEntry& e) {
        const qint64 ms = e.when.toMSecsSinceEpoch();
        const QVariantList values{nextId_,
                                  timeText(ms + localOffsetMs(ms), ' ', ""),
                                  timeText(ms, 'T', "Z"),
                                  ms,
                                  originText(e.origin),
                                  e.action,
                                  e.sign,
                                  e.mode,
                                  e.colour,
                                  e.port > 0 ? portOf(e.port).first : QString(),
                                  !e.device.isEmpty() || e.port <= 0 ? e.device : portOf(e.port).second,
                                  e.bytes,
                                  e.echo,
                                  e.outcome,
                                  e.reason,
                                  e.detail,
                                  e.failure ? 1 : 0,
                                  e.post.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(e.post)};
        QStringList text;
        for (int i = 0; i < values.size(); ++i) {
            insert.bindValue(i, values[i]);
            text << values[i].toString();
        }
        const QByteArray link = chainLink(lastLink_, text);
        insert.bindValue(int(values.size()), QString::fromLatin1(link));
        if (!insert.exec()) return false;
        ++nextId_;
        lastLink_ = link;
        return true;
    };
    if (lost_ > 0) {
        JournalEntry note = journalNote(QStringLiteral("entradas perdidas"), {},
                                        QStringLiteral("%1 entradas mais antigas não foram guardadas enquanto o registo esteve indisponível").arg(lost_), true);
        note.when = pending_.front().when;
        if (!insertOne(note)) return undo(insert.lastError());
    }
    for (const JournalEntry& e : pending_)
        if (!insertOne(e)) return undo(insert.lastError());
    if (!db_.commit()) return undo(db_.lastError());
    pending_.clear();
    lost_ = 0;
    if (QSqlError error; !trimToSize(error)) return failed(error);
    trouble(QString());
    QMetaObject::invokeMethod(&owner_, &Journal::written, Qt::QueuedConnection);
}

qint64 JournalStore::localOffsetMs(qint64 ms)
{
    // Clocks change on the quarter hour at the finest: one look-up of the time zone a quarter.
    constexpr qint64 quarterMs = 15 * 60 * 1000;
    const qint64 quarter = ms >= 0 ? ms / quarterMs : (ms - quarterMs + 1) / quarterMs;
    if (quarter != offsetQuarter_) {
        offsetQuarter_ = quarter;
        localOffsetMs_ = qint64{QDateTime::fromMSecsSinceEpoch(quarter * quarterMs).offsetFromUtc()} * 1000;
    }
    return localOffsetMs_;
}

void JournalStore::met()
{
    if (owner_.whenMet_) std::exchange(owner_.whenMet_, nullptr)();
}

void JournalStore::failed(const QSqlError& error)
{
    db_.rollback();
    trouble(error);
    // Opened afresh next time, so a file damaged meanwhile is found and set aside.
    close();
}

bool JournalStore::trouble(const QSqlError& error) { return trouble(sqliteCause(error, fileName_), error.text()); }

bool JournalStore::trouble(const QString& text, const QString& words)
{
    if (text.isEmpty() == problem_.isEmpty()) return text.isEmpty();
    if (text.isEmpty()) owner_.record(journalNote(QStringLiteral("voltou a ser guardado"), problem_, problemWords_, true));
    problem_ = text;
    problemWords_ = words;
    const QString shown = text.isEmpty() ? text : QStringLiteral("O registo não está a ser guardado: %1").arg(text);
    QMetaObject::invokeMethod(
        &owner_, [owner = &owner_, shown] { owner->setProblem(shown); }, Qt::QueuedConnection);
    return text.isEmpty();
}

void JournalStore::close()
{
    if (!db_.isValid()) return;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}
