#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A site under faults for a set time, then every sign on every line accounted for against the
# journals (scripts/soak.py says what is checked). Builds into BUILD_DIR (default build/) first.
# Usage: scripts/soak.sh [--minutes N (60)] [--posts N (6)] [--seed N] [--keep DIR] [--verbose]
# Exits 1 when anything is not accounted for, with the logs and journals kept.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
DEPS=test "$root/scripts/build.sh" -DBUILD_TESTING=ON >&2
exec python3 "$root/scripts/soak.py" --build "$build_dir" "$@"
