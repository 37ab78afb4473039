// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "timeline/timeline_reader.h"

#include <QString>

#include <functional>
#include <optional>

// What a report says above the timeline.
struct TimelineReportHeader {
    QString place; // the site and the control room, or the post
    qint64 fromMs = 0;
    qint64 toMs = 0;
    TimelineClock clock = TimelineClock::Central;
    QString chain;   // the journal's chain: its last link, or where it breaks
    QString problem; // why the journal is read as it is, if it is
};

// At most this many entries are printed in a report's table; the CSV has them all.
inline constexpr int reportEntriesMax = 2000;

// The range as a PDF (A4 landscape): the header, every lane at the range's detail, then the
// entries' table; written whole or not at all. nullopt when done, otherwise why not.
[[nodiscard]] std::optional<QString> exportTimelinePdf(const QString& fileName, TimelineReader& reader, const TimelineReportHeader& header,
                                                       const std::function<QString(const QString&)>& nameOf);
// The range's entries as CSV, the post of each among the columns; whole or not at all.
[[nodiscard]] std::optional<QString> exportTimelineCsv(const QString& fileName, TimelineReader& reader, qint64 fromMs, qint64 toMs);
