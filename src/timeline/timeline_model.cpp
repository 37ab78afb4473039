// SPDX-License-Identifier: GPL-3.0-or-later
#include "timeline/timeline_model.h"

#include <QPointer>

#include <utility>

namespace {
// Lanes go back to the window this many at a time: soon enough to be seen coming, few enough
// that the window does not draw for each one.
constexpr std::size_t lanesABatch = 8;
} // namespace

TimelineModel::TimelineModel(QObject* parent) : QObject(parent)
{
    for (Worker& w : workers_) {
        w.context = new QObject;
        w.context->moveToThread(&w.thread);
        connect(&w.thread, &QThread::finished, w.context, &QObject::deleteLater);
        w.thread.setObjectName(QStringLiteral("linha do tempo"));
        w.thread.start();
    }
}

TimelineModel::~TimelineModel()
{
    // What is being read stops at its next lane; each reader goes on its own thread.
    ++fileGeneration_;
    ++generation_;
    for (Worker& w : workers_) {
        QMetaObject::invokeMethod(
            w.context, [&w] { w.reader.reset(); }, Qt::BlockingQueuedConnection);
        w.thread.quit();
        w.thread.wait();
    }
}

void TimelineModel::onReader(std::function<void(TimelineReader&)> job, std::size_t which)
{
    const int generation = generation_;
    Worker& w = workers_[which];
    QMetaObject::invokeMethod(w.context, [this, generation, &w, job = std::move(job)] {
        if (generation == generation_ && w.reader) job(*w.reader);
    });
}

void TimelineModel::setProblem(const QString& problem)
{
    if (problem_ == problem) return;
    problem_ = problem;
    emit problemChanged(problem_);
}

void TimelineModel::open(const QString& fileName, bool live)
{
    fileName_ = fileName;
    ++fileGeneration_;
    ++generation_;
    posts_.clear();
    lanes_.clear();
    pending_.clear();
    requests_.clear();
    extent_.reset();
    central_ = false;
    opening_ = true;
    setProblem({});
    const int generation = fileGeneration_;
    // The second reader opens its own connection; the first says what the file holds.
    QMetaObject::invokeMethod(workers_[1].context, [this, fileName, generation, live] {
        if (generation != fileGeneration_) return;
        Worker& w = workers_[1];
        w.reader = std::make_unique<TimelineReader>(fileName);
        w.reader->setLive(live);
        // Kept even when it cannot open: its lanes then come back empty rather than never.
        (void)w.reader->open();
    });
    QMetaObject::invokeMethod(workers_[0].context, [this, fileName, generation, live] {
        if (generation != fileGeneration_) return;
        std::unique_ptr<TimelineReader>& reader = workers_[0].reader;
        reader = std::make_unique<TimelineReader>(fileName);
        reader->setLive(live);
        const bool readable = reader->open();
        QStringList posts = readable ? reader->posts() : QStringList{};
        const auto extent = readable ? reader->extent() : std::nullopt;
        QMetaObject::invokeMethod(this, [this, generation, posts, extent, central = reader->isCentral(), problem = reader->problem()] {
            if (generation != fileGeneration_) return;
            opening_ = false;
            posts_ = posts;
            lanes_.assign(static_cast<std::size_t>(posts_.size()), Read{});
            extent_ = extent;
            central_ = central;
            setProblem(problem);
            emit opened();
            readRequests();
            want(wanted_.first, wanted_.second);
        });
    });
}

void TimelineModel::reload()
{
    if (opening_ || fileName_.isEmpty()) return;
    ++fileGeneration_;
    ++generation_;
    pending_.clear();
    opening_ = true;
    const int generation = fileGeneration_;
    QMetaObject::invokeMethod(workers_[0].context, [this, generation] {
        const std::unique_ptr<TimelineReader>& reader = workers_[0].reader;
        if (generation != fileGeneration_ || !reader) return;
        QStringList posts = reader->posts();
        const auto extent = reader->extent();
        QMetaObject::invokeMethod(this, [this, generation, posts, extent, problem = reader->problem()] {
            if (generation != fileGeneration_) return;
            opening_ = false;
            // New posts at the end of their order move the lanes after them: read again, in place.
            if (posts != posts_) {
                std::vector<Read> kept(static_cast<std::size_t>(posts.size()));
                for (int i = 0; i < posts.size(); ++i)
                    if (const int was = static_cast<int>(posts_.indexOf(posts.at(i))); was >= 0) kept[std::size_t(i)] = lanes_[std::size_t(was)];
                posts_ = posts;
                lanes_ = std::move(kept);
            }
            // Everything in sight is read again; what was read stays drawn until then.
            for (Read& read : lanes_) read.span.bucketMs = 0;
            extent_ = extent;
            setProblem(problem);
            emit opened();
            readRequests();
            want(wanted_.first, wanted_.second);
        });
    });
}

void TimelineModel::setSpan(const TimelineSpan& span)
{
    if (span == span_) return;
    span_ = span;
    ++generation_;
    pending_.clear();
    readRequests();
    want(wanted_.first, wanted_.second);
}

void TimelineModel::readRequests()
{
    // One asked before is dropped by now.
    readingRequests_ = false;
    if (opening_ || fileName_.isEmpty()) return;
    readingRequests_ = true;
    const int generation = generation_;
    onReader([this, generation, span = span_](TimelineReader& reader) {
        std::vector<TimelineRequest> found = reader.requests(span.fromMs, span.toMs);
        QMetaObject::invokeMethod(this, [this, generation, found = std::move(found)]() mutable {
            if (generation != generation_) return;
            readingRequests_ = false;
            requests_ = std::move(found);
            emit lanesRead();
        });
    });
}

void TimelineModel::want(int first, int last)
{
    wanted_ = {first, last};
    if (opening_) return;
    // Every other lane to each reader, so that both fill the window from its top.
    std::array<std::vector<std::pair<int, QString>>, 2> shares;
    std::size_t next = 0;
    for (int i = std::max(0, first); i <= last && i < posts_.size(); ++i) {
        if (isCurrent(i) || pending_.count(i) != 0) continue;
        pending_.insert(i);
        shares[next++ % shares.size()].emplace_back(i, posts_.at(i));
    }
    for (std::size_t which = 0; which < shares.size(); ++which)
        if (!shares[which].empty()) read(std::move(shares[which]), which);
}

void TimelineModel::read(std::vector<std::pair<int, QString>> toRead, std::size_t which)
{
    const int generation = generation_;
    onReader(
        [this, generation, toRead = std::move(toRead), span = span_](TimelineReader& reader) {
            std::vector<std::pair<int, TimelineLane>> batch;
            const auto deliver = [&] {
                QMetaObject::invokeMethod(this, [this, generation, span, batch = std::move(batch)]() mutable {
                    if (generation != generation_) return;
                    for (auto& [index, lane] : batch) {
                        pending_.erase(index);
                        if (index < static_cast<int>(lanes_.size())) lanes_[std::size_t(index)] = Read{std::move(lane), span, ++reads_};
                    }
                    emit lanesRead();
                });
                batch.clear();
            };
            for (const auto& [index, post] : toRead) {
                // Scrolled or zoomed on meanwhile: the rest is of no use.
                if (generation != generation_) return;
                batch.emplace_back(index, reader.lane(post, span));
                if (batch.size() >= lanesABatch) deliver();
            }
            if (!batch.empty()) deliver();
        },
        which);
}

const TimelineLane* TimelineModel::lane(int index) const
{
    if (index < 0 || index >= static_cast<int>(lanes_.size())) return nullptr;
    const Read& read = lanes_[std::size_t(index)];
    return read.lane ? &*read.lane : nullptr;
}

quint64 TimelineModel::readNumber(int index) const { return index >= 0 && index < static_cast<int>(lanes_.size()) ? lanes_[std::size_t(index)].number : 0; }

bool TimelineModel::isCurrent(int index) const
{
    return index >= 0 && index < static_cast<int>(lanes_.size()) && lanes_[std::size_t(index)].lane && lanes_[std::size_t(index)].span == span_;
}
