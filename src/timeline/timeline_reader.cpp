// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/timeline_reader.h"

#include "journal/journal_chain.h"
#include "journal/journal_store.h"
#include "journal/journal_vocabulary.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <atomic>

namespace {

// What a lane is drawn from. A control room's: each state a post published, and its going off
// and on line; a post's own: what reached its panel.
const QString postStates = QStringLiteral("acao IN ('sinal do posto', 'posto em linha', 'posto fora de linha')");
// A start-up, whatever came of it: a program started again says nothing of what the panel
// showed while it was not running, and one whose start-up failed knows it no more.
const QString ownStates = QStringLiteral("(acao = 'arranque' OR acao IN ('sinal', 'início da animação', 'início do teste do painel', 'fim do teste do painel') "
                                         "AND resultado = 'enviado')");
// A send that reached the line and whose echo did not come back from the cable.
const QString withoutEcho = QStringLiteral("(resultado = 'enviado' AND coalesce(eco, '') NOT IN ('', 'confirmado', 'desligado'))");

// "mostra Parar" in a post's state: what its panel shows. Read for every bar drawn, so found
// in place rather than by splitting the detail.
QStringView field(QStringView detail, QStringView name)
{
    for (qsizetype at = 0; at < detail.size();) {
        const qsizetype next = detail.indexOf(u"; ", at);
        const QStringView part = detail.mid(at, next < 0 ? -1 : next - at);
        // The post's id comes first, and can be no key: it has no blank.
        if (part.size() > name.size() && part.startsWith(name) && part.at(name.size()) == u' ') return part.mid(name.size() + 1);
        if (next < 0) break;
        at = next + 2;
    }
    return {};
}

// "2026-12-08T10:00:01.200Z", as the control room writes a post's time, read by hand: Qt's
// parser costs more than the rest of a bar.
std::optional<qint64> postTimeOf(QStringView detail)
{
    const QStringView text = field(detail, u"hora do posto");
    if (text.size() != 24 || text.at(4) != u'-' || text.at(10) != u'T' || text.at(19) != u'.' || text.at(23) != u'Z') return std::nullopt;
    const auto number = [&](qsizetype from, qsizetype length) { return text.mid(from, length).toInt(); };
    const QDate day(number(0, 4), number(5, 2), number(8, 2));
    const QTime time(number(11, 2), number(14, 2), number(17, 2), number(20, 3));
    if (!day.isValid() || !time.isValid()) return std::nullopt;
    constexpr qint64 unixDay = 2440588; // the Julian day of 1970-01-01
    return (day.toJulianDay() - unixDay) * 86'400'000 + time.msecsSinceStartOfDay();
}

std::optional<qint64> offsetOf(QStringView detail)
{
    QStringView text = field(detail, u"relógio do posto");
    if (!text.endsWith(u" ms")) return std::nullopt;
    text.chop(3);
    bool ok = false;
    const qint64 ms = text.toLongLong(&ok);
    return ok ? std::optional(ms) : std::nullopt;
}

// Adds a bar's start; the one before ends there. The same state again with nothing to say of it
// only lengthens the bar before.
void startBar(std::vector<TimelineBar>& bars, TimelineBar bar)
{
    if (!bars.empty()) {
        TimelineBar& last = bars.back();
        const bool same = last.sign == bar.sign && last.colour == bar.colour && last.offline == bar.offline && last.test == bar.test;
        if (same && bar.failed == 0 && bar.noEcho == 0) {
            last.changes += bar.changes;
            return;
        }
        // A post's corrected times can cross by a few milliseconds: never a bar ending before it starts.
        bar.fromMs = std::max(bar.fromMs, last.fromMs);
        last.toMs = bar.fromMs;
    }
    bars.push_back(std::move(bar));
}

// What the panel showed as the span begins, from the last state before it: the lane's first bar.
template <typename Read>
void startFromBefore(QSqlQuery& before, std::vector<TimelineBar>& bars, Read barFrom)
{
    if (!before.exec() || !before.next()) return;
    TimelineBar bar = barFrom(before);
    bar.changes = 0;
    startBar(bars, std::move(bar));
}

void endBars(std::vector<TimelineBar>& bars, const TimelineSpan& span, qint64 untilMs)
{
    if (bars.empty()) return;
    bars.back().toMs = std::min(span.toMs, std::max(bars.back().fromMs, untilMs));
    for (TimelineBar& bar : bars) {
        bar.fromMs = std::clamp(bar.fromMs, span.fromMs, span.toMs);
        bar.toMs = std::clamp(bar.toMs, bar.fromMs, span.toMs);
    }
    std::erase_if(bars, [](const TimelineBar& bar) { return bar.toMs <= bar.fromMs && bar.changes <= 1 && bar.failed == 0 && bar.noEcho == 0; });
}

} // namespace

TimelineReader::TimelineReader(QString fileName) : fileName_(std::move(fileName))
{
    static std::atomic<int> serial{0};
    connection_ = QStringLiteral("painel-linha-do-tempo-%1").arg(++serial);
}

TimelineReader::~TimelineReader()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

bool TimelineReader::failedWith(const QSqlQuery& query)
{
    if (!query.lastError().isValid()) return false;
    const QString text =
        QStringLiteral("o registo não se pode ler por inteiro: %1; mostra-se o que dele se pode ler").arg(sqliteCause(query.lastError(), fileName_));
    if (!problem_.contains(text)) problem_ = problem_.isEmpty() ? text : problem_ + QStringLiteral("; ") + text;
    return true;
}

bool TimelineReader::open()
{
    if (!QFileInfo(fileName_).isFile()) {
        problem_ = QStringLiteral("o ficheiro %1 não existe").arg(QDir::toNativeSeparators(fileName_));
        return false;
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db_.setDatabaseName(fileName_);
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    if (!db_.open()) {
        problem_ = QStringLiteral("o registo não se pode abrir: %1").arg(sqliteCause(db_.lastError(), fileName_));
        return false;
    }
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        problem_ = QStringLiteral("o registo não se pode abrir: %1").arg(sqliteCause(query.lastError(), fileName_));
        return false;
    }
    version_ = query.value(0).toInt();
    // Read as it is, never mended nor brought up to date here: the reader says what it meets.
    // A damaged part is met where it is read (a check of the whole file would take a day's
    // journal half a minute); the chain's check, which reads it all, says so for the rest.
    QStringList reasons;
    if (version_ > journalSchemaVersion())
        reasons << QStringLiteral("o registo foi escrito por uma versão mais recente do programa: mostra-se o que esta versão conhece");
    if (version_ >= postSchemaVersion) {
        central_ = query.exec(QStringLiteral("SELECT 1 FROM registo WHERE posto IS NOT NULL LIMIT 1")) && query.next();
    } else if (query.exec(QStringLiteral("SELECT 1 FROM registo WHERE origem = 'central' LIMIT 1")) && query.next()) {
        reasons << QStringLiteral("o registo é de uma versão anterior, que não dizia o posto de cada entrada: as suas entradas não têm linha de posto "
                                  "(estão no «Registo» e no CSV)");
    }
    if (query.lastError().isValid()) reasons << QStringLiteral("o registo não se pode ler por inteiro: %1").arg(sqliteCause(query.lastError(), fileName_));
    problem_ = reasons.join(QStringLiteral("; "));
    return true;
}

QStringList TimelineReader::posts()
{
    if (!central_) return QStringList{QString()};
    // A seek of the post's index for each post, never a walk through its entries.
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    QStringList ids;
    (void)query.exec(QStringLiteral("WITH RECURSIVE p(id) AS (SELECT (SELECT min(posto) FROM registo WHERE posto IS NOT NULL) UNION ALL "
                                    "SELECT (SELECT min(posto) FROM registo WHERE posto IS NOT NULL AND posto > p.id) FROM p WHERE p.id IS NOT NULL) "
                                    "SELECT id FROM p WHERE id IS NOT NULL"));
    while (query.next()) ids << query.value(0).toString();
    (void)failedWith(query);
    return ids;
}

qint64 TimelineReader::knownUntil()
{
    // A journal still being kept knows what its panels show now; any other only up to its last
    // entry, never into a time no one saw.
    if (live_) return QDateTime::currentMSecsSinceEpoch();
    if (!lastEntryMs_) (void)extent();
    return lastEntryMs_.value_or(0);
}

std::optional<std::pair<qint64, qint64>> TimelineReader::extent()
{
    QSqlQuery query(db_);
    // Each on its own: together, SQLite would read every entry for them.
    if (!query.exec(QStringLiteral("SELECT (SELECT min(utc_ms) FROM registo), (SELECT max(utc_ms) FROM registo)")) || !query.next() || query.isNull(0)) {
        (void)failedWith(query);
        return std::nullopt;
    }
    lastEntryMs_ = query.value(1).toLongLong();
    return std::pair{query.value(0).toLongLong(), *lastEntryMs_};
}

TimelineLane TimelineReader::lane(const QString& post, const TimelineSpan& span)
{
    TimelineLane lane;
    lane.post = post;
    if (post.isEmpty()) readOwnLane(lane, span);
    else readPostLane(lane, span);
    readMarks(lane, span);
    return lane;
}

void TimelineReader::readPostLane(TimelineLane& lane, const TimelineSpan& span)
{
    // The state a post published, as a bar from when it says it showed it, on the clock chosen.
    const auto barFrom = [&](const QSqlQuery& row, int first) {
        const qint64 received = row.value(first).toLongLong();
        const QString action = row.value(first + 1).toString();
        const QString detail = row.value(first + 2).toString();
        TimelineBar bar;
        bar.fromMs = received;
        bar.offline = action == QLatin1String("posto fora de linha");
        if (action == QLatin1String("sinal do posto")) {
            const QStringView shown = field(detail, u"mostra");
            bar.sign = shown == u"desconhecido" ? QString() : shown.toString();
            bar.colour = row.value(first + 3).toString();
            const std::optional<qint64> postTime = postTimeOf(detail);
            const std::optional<qint64> offset = offsetOf(detail);
            if (offset) lane.clockOffsetMs = offset;
            if (postTime && span.clock == TimelineClock::Post) bar.fromMs = *postTime;
            else if (postTime && offset) bar.fromMs = *postTime - *offset;
        } else if (span.clock == TimelineClock::Post && lane.clockOffsetMs) {
            bar.fromMs = received + *lane.clockOffsetMs;
        }
        return bar;
    };
    QSqlQuery before(db_);
    before.prepare(
        QStringLiteral("SELECT utc_ms, acao, pormenor, cor FROM registo WHERE posto = ? AND utc_ms < ? AND %1 ORDER BY utc_ms DESC LIMIT 1").arg(postStates));
    before.addBindValue(lane.post);
    before.addBindValue(span.fromMs);
    startFromBefore(before, lane.bars, [&](const QSqlQuery& row) { return barFrom(row, 0); });
    if (failedWith(before)) return;
    // The database sums up each pixel's entries from the post's index alone (SQLite takes the id
    // from the row of the one max()); only each pixel's last entry is then read from the table.
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT max(utc_ms), id, count(*), "
                                 "sum(acao = 'sinal do posto' AND coalesce(resultado, '') NOT IN ('', 'enviado')), sum(acao = 'sinal do posto' AND %1) "
                                 "FROM registo WHERE posto = ? AND utc_ms >= ? AND utc_ms < ? AND %2 GROUP BY utc_ms / ? ORDER BY 1")
                      .arg(withoutEcho, postStates));
    query.addBindValue(lane.post);
    query.addBindValue(span.fromMs);
    query.addBindValue(span.toMs);
    query.addBindValue(std::max<qint64>(1, span.bucketMs));
    if (!query.exec()) {
        (void)failedWith(query);
        return;
    }
    struct Pixel {
        qint64 id;
        int changes, failed, noEcho;
    };
    std::vector<Pixel> pixels;
    while (query.next()) pixels.push_back(Pixel{query.value(1).toLongLong(), query.value(2).toInt(), query.value(3).toInt(), query.value(4).toInt()});
    if (failedWith(query)) return;
    QSqlQuery last(db_);
    last.prepare(QStringLiteral("SELECT utc_ms, acao, pormenor, cor FROM registo WHERE id = ?"));
    for (const Pixel& pixel : pixels) {
        last.addBindValue(pixel.id);
        if (!last.exec() || !last.next()) continue;
        TimelineBar bar = barFrom(last, 0);
        bar.changes = pixel.changes;
        bar.failed = pixel.failed;
        bar.noEcho = pixel.noEcho;
        startBar(lane.bars, std::move(bar));
    }
    (void)failedWith(last);
    endBars(lane.bars, span, knownUntil());
}

void TimelineReader::readOwnLane(TimelineLane& lane, const TimelineSpan& span)
{
    const QString own = ownEntries();
    const auto barFrom = [](const QSqlQuery& row) {
        TimelineBar bar;
        bar.fromMs = row.value(0).toLongLong();
        const QString action = row.value(1).toString();
        bar.test = action == QLatin1String("início do teste do painel");
        // After its lamp test the panel shows what is sent next: not known until then.
        if (!bar.test && action != QLatin1String("fim do teste do painel") && row.value(4).toString() == QLatin1String("enviado"))
            bar.sign = row.value(2).toString();
        bar.colour = row.value(3).toString();
        return bar;
    };
    QSqlQuery before(db_);
    before.prepare(QStringLiteral("SELECT utc_ms, acao, sinal, cor, resultado FROM registo WHERE utc_ms < ? AND %1 AND %2 ORDER BY utc_ms DESC LIMIT 1")
                       .arg(own, ownStates));
    before.addBindValue(span.fromMs);
    startFromBefore(before, lane.bars, barFrom);
    if (failedWith(before)) return;
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT max(utc_ms), acao, sinal, cor, resultado, count(*), sum(%1) FROM registo "
                                 "WHERE utc_ms >= ? AND utc_ms < ? AND %2 AND %3 GROUP BY utc_ms / ? ORDER BY 1")
                      .arg(withoutEcho, own, ownStates));
    query.addBindValue(span.fromMs);
    query.addBindValue(span.toMs);
    query.addBindValue(std::max<qint64>(1, span.bucketMs));
    if (!query.exec()) {
        (void)failedWith(query);
        return;
    }
    while (query.next()) {
        TimelineBar bar = barFrom(query);
        bar.changes = query.value(5).toInt();
        bar.noEcho = query.value(6).toInt();
        startBar(lane.bars, std::move(bar));
    }
    (void)failedWith(query);
    endBars(lane.bars, span, knownUntil());
}

void TimelineReader::readMarks(TimelineLane& lane, const TimelineSpan& span)
{
    // A failed send a post told is on its bar; here what the control room saw go wrong with its
    // requests. On a post's own lane, its failures (a missing echo is on its bar) and its start-ups.
    const QString which = lane.post.isEmpty() ? QStringLiteral("%1 AND (falha = 1 AND NOT %2 OR acao = 'arranque')").arg(ownEntries(), withoutEcho)
                                              : QStringLiteral("posto = :post AND falha = 1 AND acao NOT IN ('sinal do posto', 'posto fora de linha')");
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT max(utc_ms), acao, resultado, motivo FROM registo WHERE utc_ms >= :from AND utc_ms < :to AND %1 "
                                 "GROUP BY utc_ms / :bucket, acao = 'arranque', acao = 'sem resposta' ORDER BY 1")
                      .arg(which));
    if (!lane.post.isEmpty()) query.bindValue(QStringLiteral(":post"), lane.post);
    query.bindValue(QStringLiteral(":from"), span.fromMs);
    query.bindValue(QStringLiteral(":to"), span.toMs);
    query.bindValue(QStringLiteral(":bucket"), std::max<qint64>(1, span.bucketMs));
    if (!query.exec()) {
        (void)failedWith(query);
        return;
    }
    while (query.next()) {
        TimelineMark mark;
        mark.ms = query.value(0).toLongLong();
        if (span.clock == TimelineClock::Post && lane.clockOffsetMs) mark.ms += *lane.clockOffsetMs;
        const QString action = query.value(1).toString();
        mark.kind = action == QLatin1String("arranque") ? MarkKind::Startup : action == QLatin1String("sem resposta") ? MarkKind::Silence : MarkKind::Failure;
        const QString outcome = query.value(2).toString();
        const QString reason = query.value(3).toString();
        mark.text = action;
        if (!outcome.isEmpty() && outcome != action) mark.text += QStringLiteral(": ") + outcome;
        if (!reason.isEmpty()) mark.text += QStringLiteral(" (") + reason + QLatin1Char(')');
        lane.marks.push_back(std::move(mark));
    }
    (void)failedWith(query);
}

std::vector<TimelineRequest> TimelineReader::requests(qint64 fromMs, qint64 toMs)
{
    std::vector<TimelineRequest> found;
    if (!central_) return found;
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    // Read by the requests' own index.
    query.prepare(QStringLiteral("SELECT utc_ms, sinal, pormenor FROM registo WHERE acao = 'pedido' AND utc_ms >= ? AND utc_ms < ? ORDER BY utc_ms"));
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    if (!query.exec()) {
        (void)failedWith(query);
        return found;
    }
    while (query.next()) {
        // "pedido <id> a 3 postos: a, b, c; e a todos os postos do site"
        QString detail = query.value(2).toString();
        TimelineRequest request;
        request.ms = query.value(0).toLongLong();
        request.sign = query.value(1).toString();
        const QString everyone = QStringLiteral("; e a todos os postos do site");
        request.everyone = detail.endsWith(everyone);
        if (request.everyone) detail.chop(everyone.size());
        request.id = detail.section(QLatin1Char(' '), 1, 1);
        const QString targets = detail.section(QStringLiteral(": "), 1);
        if (!targets.isEmpty()) request.posts = targets.split(QStringLiteral(", "));
        found.push_back(std::move(request));
    }
    (void)failedWith(query);
    return found;
}

QStringList TimelineReader::columnTitles()
{
    QStringList titles;
    for (const JournalColumn& c : journalColumns()) titles << QString::fromUtf8(c.title);
    titles << QStringLiteral("Posto");
    return titles;
}

QString TimelineReader::ownEntries() const
{
    // Before the post's column every entry was the program's own.
    return version_ >= postSchemaVersion ? QStringLiteral("posto IS NULL") : QStringLiteral("1 = 1");
}

QString TimelineReader::selectColumns() const
{
    QStringList names;
    for (const JournalColumn& c : journalColumns()) names << QString::fromLatin1(c.name);
    names << (version_ >= postSchemaVersion ? QStringLiteral("posto") : QStringLiteral("NULL"));
    return names.join(QStringLiteral(", "));
}

std::vector<QStringList> TimelineReader::entries(const QString& post, qint64 fromMs, qint64 toMs, int limit)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    const QString lane = post.isEmpty() ? ownEntries() : QStringLiteral("posto = :post");
    query.prepare(
        QStringLiteral("SELECT %1 FROM registo WHERE %2 AND utc_ms >= :from AND utc_ms < :to ORDER BY utc_ms, id LIMIT :limit").arg(selectColumns(), lane));
    if (!post.isEmpty()) query.bindValue(QStringLiteral(":post"), post);
    query.bindValue(QStringLiteral(":from"), fromMs);
    query.bindValue(QStringLiteral(":to"), toMs);
    query.bindValue(QStringLiteral(":limit"), limit);
    return rows(query);
}

std::vector<QStringList> TimelineReader::requestEntries(const TimelineRequest& request, int limit)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    // Its id is in each of them, after the post's; the minute covers a late answer's wait.
    query.prepare(
        QStringLiteral("SELECT %1 FROM registo WHERE utc_ms >= ? AND utc_ms < ? AND instr(pormenor, ?) > 0 ORDER BY utc_ms, id LIMIT ?").arg(selectColumns()));
    query.addBindValue(request.ms);
    query.addBindValue(request.ms + 60'000);
    query.addBindValue(QStringLiteral("pedido ") + request.id);
    query.addBindValue(limit);
    return rows(query);
}

std::vector<QStringList> TimelineReader::rows(QSqlQuery& query)
{
    std::vector<QStringList> found;
    if (!query.exec()) {
        (void)failedWith(query);
        return found;
    }
    const int columns = static_cast<int>(journalColumns().size()) + 1;
    while (query.next()) {
        QStringList row;
        row.reserve(columns);
        for (int i = 0; i < columns; ++i) row << query.value(i).toString();
        found.push_back(std::move(row));
    }
    (void)failedWith(query);
    return found;
}

bool TimelineReader::forEachEntry(qint64 fromMs, qint64 toMs, const std::function<bool(const QStringList&)>& each)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM registo WHERE utc_ms >= ? AND utc_ms < ? ORDER BY utc_ms, id").arg(selectColumns()));
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    if (!query.exec()) return !failedWith(query);
    const int columns = static_cast<int>(journalColumns().size()) + 1;
    QStringList row;
    while (query.next()) {
        row.clear();
        for (int i = 0; i < columns; ++i) row << query.value(i).toString();
        if (!each(row)) return true;
    }
    return !failedWith(query);
}
