#!/usr/bin/env bash
# Fuzzes the preferences reader for a bounded time (FUZZ_SECONDS, default 20). Exits non-zero
# when the fuzzer finds a failing input; skips, saying why, when clang has no libFuzzer.
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
if ! command -v "$cxx" >/dev/null; then
    echo "Preferences fuzz run skipped: $cxx not found (scripts/deps.sh installs clang)."
    exit 0
fi
mkdir -p "$out/corpus"
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' \
        | "$cxx" -x c++ -fsanitize=fuzzer - -o "$out/probe" 2>/dev/null; then
    echo "Preferences fuzz run skipped: $cxx cannot link libFuzzer (install libclang-rt-14-dev)."
    exit 0
fi

# The reader is Qt-free, so its own sources build the target directly.
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$root/src" "$here/fuzz_preferences_reader.cpp" "$root/src/prefs/preferences_format.cpp" \
    -o "$out/fuzz_preferences_reader"

# New inputs go to the build folder's corpus; the seeds in the source tree stay as they are.
set +e
"$out/fuzz_preferences_reader" "$out/corpus" "$here/corpus" -dict="$here/preferences.dict" \
    -max_total_time="$seconds" -artifact_prefix="$out/" >"$out/fuzz.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 40 "$out/fuzz.log"
    echo "Preferences fuzzer found a failing input (exit $status); see $out/fuzz.log and the crash-* file beside it."
    exit "$status"
fi
grep -E '^Done [0-9]+ runs' "$out/fuzz.log"
