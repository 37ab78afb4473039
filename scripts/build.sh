#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the job DEPS (build, test or bench; default test) needs, then configures and
# builds into BUILD_DIR (default build/): every target, or only BUILD_TARGETS when set. Extra
# arguments go to cmake's configure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh" "${DEPS:-test}"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
# shellcheck disable=SC2086 # the targets are words
cmake --build "$build_dir" --parallel "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
