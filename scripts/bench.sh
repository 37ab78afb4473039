#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds into BUILD_DIR (default build/) with the benchmarks and runs them one after the other,
# printing one table: each figure beside its floor from the same run. About 10 min: the flag's
# cadence, the MQTT signs (200 of each kind, 250 ms apart), the journal window's 40 s and the
# timeline's day of a thousand posts (about 5 min to make, 6 GB in a temporary folder) take most
# of it.
# ANIMATION_SECONDS (default 60) and STARTUP_RUNS (default 15) change two of the long parts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
DEPS=bench "$root/scripts/build.sh" -DBUILD_TESTING=ON -DPAINEL_BENCH=ON >&2

# The figures depend on the machine's load and on where Qt SerialPort keeps its lock files.
echo "Machine: $(nproc) cores, $(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg) at start;" \
     "/var/lock is on $(findmnt -n -o FSTYPE -T /var/lock 2>/dev/null || echo '?')"
echo
echo "| figure | measured | floor | ratio |"
echo "|---|---|---|---|"
# Ten runs of each, interleaved at random so that a drift of the machine's load falls on all
# alike; the medians are shown.
"$build_dir/bench/bench_click" --benchmark_format=csv --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true | awk -F, '
    NR == 1 { for (i = 1; i <= NF; i++) { if ($i == "\"bytes\"") b = i; if ($i == "error_occurred") e = i } }
    NR > 1 && e && $e == "true" { print "benchmark failed: " $0 > "/dev/stderr"; failed = 1 }
    NR > 1 && $1 ~ /_median"$/ { gsub(/"/, "", $1); sub(/\/real_time_median$/, "", $1); t[$1] = $3 / 1000; if (b && $b != "") bytes[$1] = $b }
    function row(f, a, b) { printf "| %s | %.1f µs | %.1f µs | %.2f |\n", f, t[a], t[b], t[a] / t[b] }
    END {
        if (failed || !b) exit 1
        c = "BM_SignClick/journal:0/echo:0"; j = "BM_SignClick/journal:1/echo:0"; e = "BM_SignClick/journal:0/echo:1"
        row("multi-colour click through the port on a pty vs POSIX open, one write, tcdrain, close", c, "BM_PosixFloor")
        row("the same click vs POSIX with the program'\''s 22 writes", c, "BM_PosixFloorPerWrite")
        row("the same click journaled (SQLite, its own thread) vs not journaled", j, c)
        row("the same click with the cable'\''s echo (read back and compared) vs without", e, c)
        printf "| of which: added by the echo | %.1f µs | 1041.7 µs (one byte'\''s wire time) + 50 ms margin | — |\n", t[e] - t[c]
        printf "| of which: preview redraw (64 dots) | %.1f µs | — | — |\n", t["BM_PreviewDraw"]
        printf "| bytes: multi-colour sign click | %.0f B | 43 B = 44.8 ms wire | %.2f |\n", bytes[c], bytes[c] / 43
    }'
QT_QPA_PLATFORM=offscreen "$build_dir/bench/bench_startup" "${STARTUP_RUNS:-15}"
"$build_dir/bench/bench_cadence" "${ANIMATION_SECONDS:-60}"
"$build_dir/bench/bench_mqtt"
"$build_dir/bench/bench_central"
"$build_dir/bench/bench_posto"
QT_QPA_PLATFORM=offscreen "$build_dir/bench/bench_journal"
# A day of a thousand posts: about 5 min to make the journal; TIMELINE_JOURNAL keeps it for the next run.
JOURNAL=${TIMELINE_JOURNAL:-} QT_QPA_PLATFORM=offscreen "$build_dir/bench/bench_timeline"
