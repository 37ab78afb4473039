// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/journal.h"
#include "timeline/timeline_reader.h"

#include "site_journal.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Bar = std::tuple<qint64, qint64, QString, bool, int, int>; // from, to (after the start), sign, offline, failed, no echo

std::vector<Bar> barsOf(const TimelineLane& lane, qint64 start)
{
    std::vector<Bar> bars;
    for (const TimelineBar& b : lane.bars) bars.emplace_back(b.fromMs - start, b.toMs - start, b.sign, b.offline, b.failed, b.noEcho);
    return bars;
}

const QDateTime start(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);

TEST(TimelineReader, DrawsEachPostsSignsFailuresAndSilencesOnEitherClock)
{
    QTemporaryDir dir;
    {
        Journal journal(dir.filePath("central.sqlite"));
        writeSiteMinute(journal, start);
    }
    TimelineReader reader(dir.filePath("central.sqlite"));
    ASSERT_TRUE(reader.open());
    // Kept no longer, what it says last holds only until its last entry.
    EXPECT_EQ(reader.lane("reta-2", TimelineSpan{start.toMSecsSinceEpoch(), start.toMSecsSinceEpoch() + 60'000, 1}).bars.back().toMs - start.toMSecsSinceEpoch(), 40'040);
    reader.setLive(true);
    EXPECT_EQ(reader.problem(), "");
    EXPECT_TRUE(reader.isCentral());
    EXPECT_EQ(reader.posts(), (QStringList{"curva-1", "reta-2"}));
    const qint64 t = start.toMSecsSinceEpoch();
    TimelineSpan span{t, t + 60'000, 1, TimelineClock::Central};

    // On the control room's clock each post's time is taken back by its offset.
    const TimelineLane curva = reader.lane("curva-1", span);
    EXPECT_EQ(barsOf(curva, t), (std::vector<Bar>{{0, 20'000, "Parar", false, 0, 0}, {20'000, 40'000, "Xadrez", false, 0, 0}, {40'000, 60'000, "Xadrez", false, 1, 0}}));
    ASSERT_EQ(curva.marks.size(), 1U);
    EXPECT_EQ(std::tuple(curva.marks[0].ms - t, curva.marks[0].kind, curva.marks[0].text), std::tuple(30'000, MarkKind::Silence, QString("sem resposta")));
    EXPECT_EQ(curva.clockOffsetMs, std::optional<qint64>(1200));
    const TimelineLane reta = reader.lane("reta-2", span);
    EXPECT_EQ(barsOf(reta, t), (std::vector<Bar>{{50, 10'000, "Parar", false, 0, 1}, {10'000, 60'000, "", true, 0, 0}}));
    EXPECT_TRUE(reta.marks.empty()) << "going off line is the lane's bar, not a mark";

    // On each post's own clock, as it said.
    span.clock = TimelineClock::Post;
    EXPECT_EQ(barsOf(reader.lane("curva-1", span), t).front(), (Bar{1200, 21'200, "Parar", false, 0, 0}));

    // Read from the middle, the state before it is the first bar; coarse, a pixel sums its entries.
    span = TimelineSpan{t + 15'000, t + 60'000, 1, TimelineClock::Central};
    EXPECT_EQ(barsOf(reader.lane("reta-2", span), t), (std::vector<Bar>{{15'000, 60'000, "", true, 0, 0}}));
    span = TimelineSpan{t, t + 60'000, 30'000, TimelineClock::Central};
    const TimelineLane coarse = reader.lane("curva-1", span);
    int changes = 0;
    for (const TimelineBar& b : coarse.bars) changes += b.changes;
    EXPECT_EQ(std::tuple(coarse.bars.size(), changes, coarse.bars.back().failed), std::tuple(std::size_t{2}, 3, 1));

    const std::vector<TimelineRequest> requests = reader.requests(t, t + 60'000);
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(std::tuple(requests[0].id, requests[0].sign, requests[0].posts, requests[0].everyone),
              std::tuple(QString("p-1"), QString("Parar"), QStringList{"curva-1", "reta-2"}, false));
    EXPECT_EQ(reader.requestEntries(requests[0], 10).size(), 3U) << "the request and the two states that carried it out";
    EXPECT_EQ(reader.entries("curva-1", t + 20'000, t + 40'000, 10).size(), 2U);
}

// A post's own journal is its panel's one lane: what reached it, a failed send as a mark only,
// a missing echo on the bar, its start-ups.
TEST(TimelineReader, ReadsAPostsOwnPanel)
{
    QTemporaryDir dir;
    const qint64 t = start.toMSecsSinceEpoch();
    {
        Journal journal(dir.filePath("posto.sqlite"));
        const auto sent = [&](qint64 ms, const char* action, const char* sign, const char* outcome, const char* echo) {
            JournalEntry e =
                journalEntry(Origin::Keyboard, QString::fromUtf8(action), QString::fromUtf8(outcome), {}, {}, QByteArray(echo) == "sem eco" || QByteArray(outcome) != "enviado");
            e.when = start.addMSecs(ms);
            e.sign = QString::fromUtf8(sign);
            e.echo = QString::fromUtf8(echo);
            journal.record(e);
        };
        sent(0, "arranque", "Parar", "enviado", "confirmado");
        sent(5000, "sinal", "Frente", "enviado", "confirmado");
        sent(10'000, "sinal", "Esquerda", "falhou na escrita", "não verificado");
        sent(15'000, "sinal", "Direita", "enviado", "sem eco");
        sent(30'000, "arranque", "Parar", "porta não abriu", "não verificado");
    }
    TimelineReader reader(dir.filePath("posto.sqlite"));
    ASSERT_TRUE(reader.open());
    reader.setLive(true);
    EXPECT_EQ(reader.posts(), QStringList{QString()});
    const TimelineLane lane = reader.lane({}, TimelineSpan{t, t + 60'000, 1, TimelineClock::Central});
    // Started again, and its start-up failed: what the panel shows is known no more.
    EXPECT_EQ(
        barsOf(lane, t),
        (std::vector<Bar>{{0, 5000, "Parar", false, 0, 0}, {5000, 15'000, "Frente", false, 0, 0}, {15'000, 30'000, "Direita", false, 0, 1}, {30'000, 60'000, "", false, 0, 0}}));
    std::vector<std::pair<qint64, MarkKind>> marks;
    for (const TimelineMark& m : lane.marks) marks.emplace_back(m.ms - t, m.kind);
    EXPECT_EQ(marks, (std::vector<std::pair<qint64, MarkKind>>{{0, MarkKind::Startup}, {10'000, MarkKind::Failure}, {30'000, MarkKind::Startup}}));
}

} // namespace
