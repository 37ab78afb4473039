// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline_window/timeline_export.h"

#include "journal/journal_csv.h"
#include "journal/journal_vocabulary.h"
#include "timeline_window/timeline_view.h"

#include <QDateTime>
#include <QDir>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>

namespace {

QString localTime(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd-MM-yyyy HH:mm:ss")); }

QString cannotWrite(const QString& fileName, const QSaveFile& file)
{
    return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
}

// The table's columns in a report: those that say what happened, by their place in a row.
struct ReportColumn {
    int field;
    int width; // share of the page's width, in hundredths
};

} // namespace

std::optional<QString> exportTimelinePdf(const QString& fileName, TimelineReader& reader, const TimelineReportHeader& header,
                                         const std::function<QString(const QString&)>& nameOf)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(fileName, file);
    QPdfWriter pdf(&file);
    pdf.setTitle(QStringLiteral("Linha do tempo"));
    pdf.setCreator(QStringLiteral("painel-sinaletico"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter));
    // A screen's pixels, so that the lanes are drawn as the window draws them.
    pdf.setResolution(96);
    QPainter p;
    if (!p.begin(&pdf)) return QStringLiteral("%1: o PDF não se pode começar").arg(QDir::toNativeSeparators(fileName));
    const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution()).translated(-pdf.pageLayout().paintRectPixels(pdf.resolution()).topLeft());
    QFont font = p.font();
    font.setPixelSize(12);
    // No ligatures: "confirmado" stays letters a search of the PDF finds, not "ﬁ" and the rest.
    font.setStyleStrategy(QFont::PreferNoShaping);
    p.setFont(font);
    const int line = p.fontMetrics().height();

    int y = 0;
    const auto text = [&](const QString& s, bool bold = false) {
        QFont f = font;
        f.setBold(bold);
        p.setFont(f);
        const QRect r = p.boundingRect(QRect(0, y, page.width(), page.height()), Qt::TextWordWrap, s);
        p.drawText(r, Qt::TextWordWrap, s);
        y = r.bottom() + 4;
        p.setFont(font);
    };
    text(QStringLiteral("Linha do tempo — %1").arg(header.place), true);
    text(QStringLiteral("Período: %1 a %2").arg(localTime(header.fromMs), localTime(header.toMs)));
    text(QStringLiteral("Exportado em: %1").arg(localTime(QDateTime::currentMSecsSinceEpoch())));
    if (reader.isCentral())
        text(header.clock == TimelineClock::Central ? QStringLiteral("Horas: relógio da central (cada posto acertado pelo seu desvio)")
                                                    : QStringLiteral("Horas: relógio de cada posto"));
    text(header.chain);
    if (!header.problem.isEmpty()) text(QStringLiteral("Aviso: %1").arg(header.problem));
    text(timelineLegend());
    y += line / 2;

    // The lanes, as many pages as they take.
    TimelineSpan span;
    span.fromMs = header.fromMs;
    span.toMs = header.toMs;
    span.clock = header.clock;
    TimelineLayout layout;
    layout.fromMs = header.fromMs;
    layout.toMs = header.toMs;
    span.bucketMs = std::max<qint64>(1, (header.toMs - header.fromMs) / std::max(1, page.width() - layout.nameWidth));
    const QStringList posts = reader.posts();
    const std::vector<TimelineRequest> requests = reader.requests(header.fromMs, header.toMs);
    std::vector<TimelineLane> lanes;
    lanes.reserve(std::size_t(posts.size()));
    for (const QString& post : posts) lanes.push_back(reader.lane(post, span));
    const TimelineContent content{posts, [&](int i) { return &lanes[std::size_t(i)]; }, requests, nameOf};
    int first = 0;
    while (first < posts.size()) {
        const int rows = std::max(1, (page.height() - y - layout.axisHeight) / layout.laneHeight);
        if (rows < 3 && y > 0) {
            pdf.newPage();
            y = 0;
            continue;
        }
        layout.first = first;
        layout.last = std::min(int(posts.size()) - 1, first + rows - 1);
        layout.area = QRect(0, y, page.width(), layout.axisHeight + (layout.last - first + 1) * layout.laneHeight);
        paintTimeline(p, content, layout);
        first = layout.last + 1;
        y = layout.area.bottom() + line;
        if (first < posts.size()) {
            pdf.newPage();
            y = 0;
        }
    }

    // The entries, a line each.
    const std::vector<ReportColumn> columns{{0, 14}, {14, 8}, {2, 6}, {3, 10}, {4, 6}, {11, 10}, {10, 7}, {12, 11}, {13, 28}};
    const QStringList titles = TimelineReader::columnTitles();
    pdf.newPage();
    y = 0;
    text(QStringLiteral("Entradas do registo de %1 a %2").arg(localTime(header.fromMs), localTime(header.toMs)), true);
    const auto row = [&](const QStringList& fields, bool bold) {
        if (y + line > page.height()) {
            pdf.newPage();
            y = 0;
        }
        QFont f = font;
        f.setPixelSize(10);
        f.setBold(bold);
        p.setFont(f);
        int x = 0;
        for (const ReportColumn& c : columns) {
            const int w = page.width() * c.width / 100;
            p.drawText(QRect(x, y, w - 4, line), Qt::AlignLeft | Qt::AlignVCenter, p.fontMetrics().elidedText(fields.value(c.field), Qt::ElideRight, w - 4));
            x += w;
        }
        y += line;
        p.setFont(font);
    };
    row(titles, true);
    int count = 0;
    bool more = false;
    const bool read = reader.forEachEntry(header.fromMs, header.toMs, [&](const QStringList& fields) {
        if (count == reportEntriesMax) {
            more = true;
            return false;
        }
        ++count;
        row(fields, false);
        return true;
    });
    if (count == 0) text(QStringLiteral("Nenhuma entrada neste período."));
    if (more) text(QStringLiteral("Só as primeiras %1 entradas do período; todas estão na exportação CSV.").arg(reportEntriesMax));
    p.end();
    if (!read) {
        file.cancelWriting();
        return QStringLiteral("o registo não se pode ler: %1").arg(reader.problem());
    }
    if (!file.commit()) return cannotWrite(fileName, file);
    return std::nullopt;
}

std::optional<QString> exportTimelineCsv(const QString& fileName, TimelineReader& reader, qint64 fromMs, qint64 toMs)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(fileName, file);
    bool written = file.write(csvRecord(TimelineReader::columnTitles())) >= 0;
    // Streamed: a day of a thousand posts never sits in memory.
    const bool read = reader.forEachEntry(fromMs, toMs, [&](const QStringList& fields) {
        written = file.write(csvRecord(fields)) >= 0;
        return written;
    });
    if (!read) {
        file.cancelWriting();
        return QStringLiteral("o registo não se pode ler: %1").arg(reader.problem());
    }
    if (!written || !file.commit()) return cannotWrite(fileName, file);
    return std::nullopt;
}
