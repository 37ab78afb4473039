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
# The example Node-RED flow against a real Node-RED, Mosquitto and two posts on virtual panels;
# PAINEL_SKIP_NODE_RED=1 leaves it out, as the sanitizer run does.
if [ -z "${PAINEL_SKIP_NODE_RED:-}" ]; then
    "$root/scripts/deps.sh" node-red
    "$root/tests/node-red/run.sh" "$build_dir"
fi
# The soak's short form (scripts/soak.sh is the long one): four posts, two bridged brokers and two
# control rooms under Xvfb for 3 minutes, a broker, a post, the control room or a cable's echo
# failing every 6 to 15 s, then every sign accounted for; the same choices each run (the long one
# draws its own); PAINEL_SKIP_SOAK=1 leaves it out.
[ -n "${PAINEL_SKIP_SOAK:-}" ] || python3 "$root/scripts/soak.py" --build "$build_dir" --minutes 3 --posts 4 --fault-every 6 15 --seed 20261209
# The Debian package, built without the tests, and the programs in it (about 2 min on a fresh
# clone); PAINEL_SKIP_PACKAGE=1 leaves it out, as the sanitizer run does.
[ -n "${PAINEL_SKIP_PACKAGE:-}" ] || "$root/tests/package/check.sh"
# The Windows program, cross-built, its installer and zip, and their tests under Wine against the
# virtual panel built above (a few minutes with the prebuilt Qt); PAINEL_SKIP_WINDOWS=1 leaves
# them out, as the sanitizer run does.
if [ -z "${PAINEL_SKIP_WINDOWS:-}" ]; then
    "$root/scripts/windows.sh"
    "$root/tests/windows/run.sh" "${WIN_BUILD_DIR:-$root/build-win}" "$build_dir"
fi
# The programs for arm64, cross-built once, the core's tests under qemu-user, and the arm64
# package (scripts/arm64.sh, about 15 min); PAINEL_SKIP_ARM64=1 leaves them out, as the sanitizer
# run does.
[ -n "${PAINEL_SKIP_ARM64:-}" ] || "$root/scripts/arm64.sh"
