// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame_decoder.h"

#include <algorithm>
#include <optional>

namespace {

// The decoder has its own copy of the wire format rather than sharing PanelCommands' constants:
// it plays the panel's end of the line, and a mistake on the sending side must show up here
// instead of being mirrored.
constexpr std::array<std::uint8_t, 3> prefix{0xA5, 0x79, 0x5A};
constexpr std::size_t prefixLength = prefix.size();

enum class Effect { None, DisplayOn, RedPlane, GreenPlane, LedTime, SignCode };

struct Command {
    std::uint8_t code;
    std::size_t argumentBytes;
    const char* name;
    Effect effect;
};

constexpr std::array<Command, 10> commands{{
    {0x71, 0, "display_on", Effect::DisplayOn},
    {0x72, 0, "enter_test_mode", Effect::None},
    {0x73, 8, "red plane", Effect::RedPlane},
    {0x74, 8, "green plane", Effect::GreenPlane},
    {0x75, 1, "set_redled_time", Effect::LedTime},
    {0x76, 1, "set_greenled_time", Effect::LedTime},
    {0x78, 0, "command_78", Effect::None},
    {0x79, 0, "command_79", Effect::None},
    {0x7A, 0, "command_7a", Effect::None},
    {0x7B, 1, "set_sign_code", Effect::SignCode},
}};

// Long runs of noise (a wrong baud rate, say) are cut into lines of this many bytes, so that
// they show up while they last instead of piling up until the next prefix.
constexpr std::size_t maxStrayRun = 16;

std::optional<Command> lookUp(std::uint8_t code)
{
    const auto it = std::find_if(commands.begin(), commands.end(), [code](const Command& c) { return c.code == code; });
    if (it == commands.end()) return std::nullopt;
    return *it;
}

// How many of the last bytes could be the beginning of a prefix still to be completed.
std::size_t partialPrefixAtEnd(const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t n = std::min(prefixLength - 1, bytes.size()); n > 0; --n) {
        if (std::equal(bytes.end() - static_cast<std::ptrdiff_t>(n), bytes.end(), prefix.begin())) return n;
    }
    return 0;
}

} // namespace

std::vector<WireEvent> FrameDecoder::feed(std::span<const std::uint8_t> chunk)
{
    pending_.insert(pending_.end(), chunk.begin(), chunk.end());
    std::vector<WireEvent> out;
    while (decodeOne(out)) {}
    return out;
}

bool FrameDecoder::decodeOne(std::vector<WireEvent>& out)
{
    const auto found = std::search(pending_.begin(), pending_.end(), prefix.begin(), prefix.end());
    const auto start = static_cast<std::size_t>(found - pending_.begin());
    const bool havePrefix = found != pending_.end();

    // Stray bytes are reported as whole runs, up to the next prefix, so the lines do not
    // depend on how the bytes happened to be split across reads.
    const std::size_t strayEnd = havePrefix ? start : pending_.size() - partialPrefixAtEnd(pending_);
    if (strayEnd >= maxStrayRun) {
        emitStray(out, maxStrayRun);
        return true;
    }
    if (!havePrefix) return false;
    if (start > 0) {
        emitStray(out, start);
        return true;
    }

    if (pending_.size() <= prefixLength) return false;
    const std::uint8_t code = pending_[prefixLength];
    const auto command = lookUp(code);
    if (!command) {
        if (code == prefix[0]) {
            // A prefix with no command at all, then another prefix: the sender started over.
            emitStray(out, prefixLength);
            return true;
        }
        WireEvent event{
            WireEvent::Kind::UnknownCommand, {pending_.begin(), pending_.begin() + prefixLength + 1}, "unknown command " + hexBytes(std::span(&code, 1)), {}};
        pending_.erase(pending_.begin(), pending_.begin() + prefixLength + 1);
        out.push_back(std::move(event));
        return true;
    }

    const std::size_t length = prefixLength + 1 + command->argumentBytes;
    if (pending_.size() < length) return false;
    const auto arguments = std::span(pending_).subspan(prefixLength + 1, command->argumentBytes);

    std::string meaning = command->name;
    bool showsMatrix = false;
    switch (command->effect) {
    case Effect::None: break;
    case Effect::DisplayOn:
        displayOn_ = true;
        showsMatrix = true;
        break;
    case Effect::RedPlane: std::copy(arguments.begin(), arguments.end(), red_.begin()); break;
    case Effect::GreenPlane:
        std::copy(arguments.begin(), arguments.end(), green_.begin());
        // The green plane is the second of a sign's two uploads, so the picture is complete.
        showsMatrix = displayOn_;
        break;
    case Effect::LedTime:
        // The byte is 256 - LedTime, so 0 stands for the longest time, 256.
        meaning += ' ' + std::to_string(256 - int{arguments[0]});
        break;
    case Effect::SignCode: meaning += ' ' + std::to_string(int{arguments[0]}); break;
    }
    emitFrame(out, length, std::move(meaning), showsMatrix);
    return true;
}

std::vector<WireEvent> FrameDecoder::flush()
{
    std::vector<WireEvent> out;
    if (pending_.empty()) return out;
    // feed() has already taken every complete frame and every stray run ending in a prefix,
    // so what is left is either the start of a frame or bytes before a prefix that never came.
    const bool frameStarted = pending_.size() > prefixLength && std::equal(prefix.begin(), prefix.end(), pending_.begin());
    if (frameStarted) {
        const auto command = lookUp(pending_[prefixLength]);
        out.push_back({WireEvent::Kind::IncompleteFrame, pending_, std::string("incomplete ") + (command ? command->name : "frame"), {}});
        pending_.clear();
    } else {
        emitStray(out, pending_.size());
    }
    return out;
}

void FrameDecoder::emitStray(std::vector<WireEvent>& out, std::size_t count)
{
    WireEvent event{
        WireEvent::Kind::StrayBytes, {pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count)}, count == 1 ? "stray byte" : "stray bytes", {}};
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    out.push_back(std::move(event));
}

void FrameDecoder::emitFrame(std::vector<WireEvent>& out, std::size_t length, std::string meaning, bool showsMatrix)
{
    WireEvent event{WireEvent::Kind::Frame, {pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length)}, std::move(meaning), {}};
    if (showsMatrix) event.matrix = matrix();
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    out.push_back(std::move(event));
}

Dot FrameDecoder::dot(int row, int column) const
{
    // Line 0 is the rightmost column; bit 0 the top row.
    const auto line = static_cast<std::size_t>(7 - column);
    const bool red = (red_[line] >> row) & 1U;
    const bool green = (green_[line] >> row) & 1U;
    if (red && green) return Dot::Yellow;
    if (red) return Dot::Red;
    if (green) return Dot::Green;
    return Dot::Off;
}

Matrix FrameDecoder::matrix() const
{
    Matrix dots{};
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column) dots[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = dot(row, column);
    return dots;
}
