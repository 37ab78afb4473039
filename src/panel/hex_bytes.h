// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Bytes of the line as people read them: "A5 79 5A 71", upper case, single blanks. The virtual
// panel prints frames so, and the tests write every frame so.
[[nodiscard]] std::string hexBytes(std::span<const std::uint8_t> bytes);
