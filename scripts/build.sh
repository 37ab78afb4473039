#!/usr/bin/env bash
# Configures and builds into BUILD_DIR (default build/). Extra arguments go to cmake's configure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
