#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the preferences reader's libFuzzer target (CMake option PAINEL_FUZZ, clang) and fuzzes
# it for a bounded time (FUZZ_SECONDS, default 20). Exits non-zero when the fuzzer finds a
# failing input; skips, saying why, when clang has no libFuzzer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
cxx=${FUZZ_CXX:-clang++}

if [ "$seconds" -le 0 ]; then
    echo "Preferences fuzz run skipped: FUZZ_SECONDS=$seconds."
    exit 0
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
        | "$cxx" -x c++ -fsanitize=fuzzer - -o /tmp/painel-fuzz-probe.$$ 2>/dev/null; then
    echo "Preferences fuzz run skipped: $cxx cannot link libFuzzer (scripts/deps.sh installs clang and libclang-rt-14-dev)."
    exit 0
fi
rm -f /tmp/painel-fuzz-probe.$$

cmake -S "$root" -B "$out" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_TESTING=OFF -DPAINEL_FUZZ=ON >/dev/null
cmake --build "$out" --target fuzz_preferences_reader >/dev/null

# New inputs go to the build folder's corpus; the seeds in the source tree stay as they are.
mkdir -p "$out/corpus"
set +e
"$out/tests/settings/fuzz/fuzz_preferences_reader" "$out/corpus" "$here/corpus" -dict="$here/preferences.dict" \
    -max_total_time="$seconds" -artifact_prefix="$out/" >"$out/fuzz.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 40 "$out/fuzz.log"
    echo "Preferences fuzzer found a failing input (exit $status); see $out/fuzz.log and the crash-* file beside it."
    exit "$status"
fi
grep -E '^Done [0-9]+ runs' "$out/fuzz.log"
