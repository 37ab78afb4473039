#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The programs for arm64 posts (a Raspberry Pi 3 or later on a 64-bit system, and their kind), built
# with Debian's cross compiler and multiarch Qt into build-arm64/, and the core's tests run under
# qemu-user: among them the post without a screen started end to end, its start-up frames read on
# a pseudo-terminal. The windows' tests are this machine's business and stay out.
# With --package, the arm64 Debian package too: build-pkg-arm64/painel-sinaletico_<version>-1_arm64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${ARM64_BUILD_DIR:-$root/build-arm64}

"$root/scripts/deps.sh" arm64
if [ "${1:-}" = --package ]; then
    ARCH=arm64 "$root/scripts/package.sh"
    exit 0
fi
(cd "$root" && cmake --preset arm64 -B "$build_dir" -DBUILD_TESTING=ON)
cmake --build "$build_dir" --parallel "$(nproc)"
# Emulated, everything takes longer: the same tests, with room for it.
ctest --test-dir "$build_dir" -L CORE --output-on-failure --timeout 900
