#!/usr/bin/env bash
# Builds into BUILD_DIR (default build/) and runs every benchmark one after the other, printing
# one table: each figure beside its floor from the same run. Takes about two minutes, most of it
# the 60 s animation; ANIMATION_SECONDS and STARTUP_RUNS shorten or lengthen those.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
animation_seconds=${ANIMATION_SECONDS:-60}
startup_runs=${STARTUP_RUNS:-15}

"$root/scripts/build.sh" >&2

# The figures depend on the machine's load and on where Qt SerialPort keeps its lock files.
echo "Machine: $(nproc) cores, $(uname -sr), load average $(cut -d' ' -f1-3 /proc/loadavg) at start;" \
     "/var/lock is on $(findmnt -n -o FSTYPE -T /var/lock 2>/dev/null || echo '?')"
echo
echo "| figure | measured | floor | ratio |"
echo "|---|---|---|---|"

# One sign click through the real port layer (Google Benchmark), floors and attribution.
csv=$("$build_dir/bench/bench_sign_action" --benchmark_format=csv 2>/dev/null)
awk -F, '
    NR > 1 { gsub(/"/, "", $1); sub(/\/real_time$/, "", $1); t[$1] = $3 }
    function us(x) { return sprintf("%.1f µs", x) }
    function row(f, a, b) { printf "| %s | %s | %s | %.1f |\n", f, us(t[a]), us(t[b]), t[a] / t[b] }
    END {
        row("multi-colour sign click (Parar, 43 B) through the port layer on a pty vs POSIX open, one write, tcdrain, close", "BM_SignClick", "BM_PosixFloor")
        row("  the same click vs POSIX with the program'\''s 22 writes", "BM_SignClick", "BM_PosixFloorPerWrite")
        row("  attribution: POSIX doing all the port does but the lock file vs one-write floor", "BM_PosixAsThePortDoesWithoutLockFile", "BM_PosixFloor")
        row("  attribution: Qt SerialPort'\''s lock file in /var/lock vs the same on tmpfs", "BM_LockFile/var_lock", "BM_LockFile/dev_shm")
        printf "| %s | %s | %s | %s |\n", "  attribution: preview redraw inside the click (64 anti-aliased discs)", us(t["BM_PreviewDraw"]), "—", "—"
    }' <<<"$csv"

"$build_dir/bench/bench_startup" "$startup_runs"
"$build_dir/bench/bench_animation" "$animation_seconds"
