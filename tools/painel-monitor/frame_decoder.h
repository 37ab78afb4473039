// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "panel/hex_bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What lights behind one dot.
enum class Dot { Off, Red, Green, Yellow };

// The display as the panel lights it: [row][column], row 0 the top row, column 0 the leftmost.
using Matrix = std::array<std::array<Dot, 8>, 8>;

// One thing seen on the line: a whole frame, or bytes that make no frame.
struct WireEvent {
    enum class Kind {
        Frame,           // a known command with all its bytes
        StrayBytes,      // bytes outside any frame
        UnknownCommand,  // a prefix followed by a command byte the panel does not know
        IncompleteFrame, // a frame that stopped before its last byte (see FrameDecoder::flush)
    };

    Kind kind = Kind::Frame;
    std::vector<std::uint8_t> bytes;
    std::string meaning;
    // The display, when this event changed what the panel shows.
    std::optional<Matrix> matrix;
};

// Decodes the byte stream the panel receives, in whatever chunks it arrives, and keeps the
// panel's picture as the uploads leave it. It knows nothing of timing; the caller decides
// when a silence means the sender has stopped and calls flush().
class FrameDecoder {
public:
    [[nodiscard]] std::vector<WireEvent> feed(std::span<const std::uint8_t> chunk);
    // Reports whatever is held back waiting for more bytes (stray bytes, a partial prefix or
    // a frame cut short) and starts afresh at the next prefix.
    [[nodiscard]] std::vector<WireEvent> flush();

    // row 0 is the top row, column 0 the leftmost (line 7).
    [[nodiscard]] Dot dot(int row, int column) const;
    [[nodiscard]] Matrix matrix() const;

private:
    // Decodes what it can from pending_; false when it needs more bytes.
    bool decodeOne(std::vector<WireEvent>& out);
    void emitStray(std::vector<WireEvent>& out, std::size_t count);
    void emitFrame(std::vector<WireEvent>& out, std::size_t length, std::string meaning, bool showsMatrix);

    std::vector<std::uint8_t> pending_;
    std::array<std::uint8_t, 8> red_{};
    std::array<std::uint8_t, 8> green_{};
    bool displayOn_ = false;
};
