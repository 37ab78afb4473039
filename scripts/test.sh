#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything and runs every test; exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}

DEPS=test "$root/scripts/build.sh" -DBUILD_TESTING=ON "$@"
ctest --test-dir "$build_dir" --output-on-failure --timeout 300
# Every source file laid out as .clang-format says.
"$root/scripts/format.sh" --check
# The preferences reader under libFuzzer for a bounded time (about 20 s).
"$root/tests/settings/fuzz/run.sh"
# The Debian package, built without the tests, and the programs in it (about 2 min on a fresh
# clone); PAINEL_SKIP_PACKAGE=1 leaves it out, as the sanitizer run does.
[ -n "${PAINEL_SKIP_PACKAGE:-}" ] || "$root/tests/package/check.sh"
