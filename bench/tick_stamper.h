#pragma once

#include "bench_support.h"

#include "panel/frame_decoder.h"

#include <cstddef>
#include <vector>

// The animation as one reader saw it: the time between consecutive ticks, in milliseconds.
struct Cadence {
    std::vector<double> periods;
    std::size_t ticks = 0;
    std::size_t badTicks = 0;
    std::size_t bytes = 0;
};

// Stamps each tick when its green plane, the tick's last frame, has arrived: the moment the
// panel has the whole new image.
class TickStamper {
public:
    // Red and green plane, 12 bytes each.
    static constexpr std::size_t tickBytes = 24;

    void take(const Chunk& chunk)
    {
        for (const WireEvent& e : decoder_.feed(chunk.bytes)) {
            if (e.kind != WireEvent::Kind::Frame) ++cadence_.badTicks;
            bytesInTick_ += e.bytes.size();
            cadence_.bytes += e.bytes.size();
            if (e.meaning != "green plane") continue;
            if (bytesInTick_ != tickBytes) ++cadence_.badTicks;
            bytesInTick_ = 0;
            if (cadence_.ticks++ > 0) cadence_.periods.push_back(msBetween(last_, chunk.at));
            last_ = chunk.at;
        }
    }
    [[nodiscard]] const Cadence& cadence() const { return cadence_; }

private:
    FrameDecoder decoder_;
    Cadence cadence_;
    std::size_t bytesInTick_ = 0;
    Clock::time_point last_;
};
