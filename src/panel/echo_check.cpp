// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/echo_check.h"

#include "panel/hex_bytes.h"

#include <algorithm>

std::string echoWord(Echo echo)
{
    switch (echo) {
    case Echo::Off: return "desligado";
    case Echo::Confirmed: return "confirmado";
    case Echo::Missing: return "sem eco";
    case Echo::Different: return "diferente";
    case Echo::Incomplete: return "incompleto";
    }
    return {};
}

void EchoComparison::start()
{
    written_.clear();
    returned_.clear();
    extra_ = 0;
}

void EchoComparison::wrote(std::span<const std::uint8_t> bytes)
{
    const std::size_t room = maxKept - std::min(maxKept, written_.size());
    written_.insert(written_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
}

void EchoComparison::returned(std::span<const std::uint8_t> bytes)
{
    const std::size_t room = written_.size() - std::min(written_.size(), returned_.size());
    const std::size_t kept = std::min(room, bytes.size());
    returned_.insert(returned_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
    extra_ += bytes.size() - kept;
}

EchoCheck EchoComparison::verdict() const
{
    EchoCheck check{.echo = Echo::Confirmed, .written = written_.size(), .returned = returned_.size() + extra_, .detail = {}};
    if (returned_.empty() && extra_ == 0) {
        check.echo = written_.empty() ? Echo::Confirmed : Echo::Missing;
        return check;
    }
    const auto [mine, theirs] = std::mismatch(returned_.begin(), returned_.end(), written_.begin());
    if (mine != returned_.end()) {
        const auto at = static_cast<std::size_t>(mine - returned_.begin());
        check.echo = Echo::Different;
        check.detail = "o byte " + std::to_string(at + 1) + " de " + std::to_string(written_.size()) + " voltou " + hexBytes(std::span(&*mine, 1))
                       + " em vez de " + hexBytes(std::span(&*theirs, 1));
    } else if (extra_ > 0) {
        check.echo = Echo::Different;
        check.detail = "voltaram " + std::to_string(extra_) + " bytes a mais do que os " + std::to_string(written_.size()) + " enviados";
    } else if (returned_.size() < written_.size()) {
        check.echo = Echo::Incomplete;
        check.detail = "só voltaram " + std::to_string(returned_.size()) + " de " + std::to_string(written_.size()) + " bytes";
    }
    return check;
}
