#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the job DEPS (build, test or bench; default test) needs, then configures by the
# preset PRESET (default, asan or bench of CMakePresets.json; default: default) and builds into
# BUILD_DIR (default: the preset's folder): every target, or only BUILD_TARGETS when set. Extra
# arguments go to cmake's configure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh" "${DEPS:-test}"
(cd "$root" && cmake --preset "$preset" -B "$build_dir" ${BUILD_TYPE:+-DCMAKE_BUILD_TYPE=$BUILD_TYPE} "$@")
# shellcheck disable=SC2086 # the targets are words
cmake --build "$build_dir" --parallel "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
