#!/usr/bin/env bash
# Builds the program and starts it. When COM1 is not linked to a device, a virtual panel
# (painel-monitor on a pseudo-terminal, with its window) stands in for the panel for this run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
DEPS=build "$root/scripts/build.sh" -DBUILD_TESTING=OFF

program=$build_dir/painel-sinaletico
monitor_program=$build_dir/painel-monitor
config=${XDG_CONFIG_HOME:-$HOME/.config}/painel-sinaletico
com1=$config/com1

if [ ! -x "$program" ]; then
    echo "run.sh: $program was not built" >&2
    exit 1
fi

# A dangling link counts as configured too: the operator chose that device (an adapter that is
# unplugged just now), and the program says it cannot open it rather than us replacing it.
if [ -e "$com1" ] || [ -L "$com1" ]; then
    exec "$program" "$@"
fi

mkdir -p "$config"
log=$(mktemp "${TMPDIR:-/tmp}/painel-monitor.XXXXXX")
pty=
monitor=

cleanup() {
    if [ -n "$pty" ] && [ "$(readlink "$com1" 2>/dev/null)" = "$pty" ]; then
        rm -f "$com1"
        echo "run.sh: removed the link $com1 -> $pty"
    fi
    if [ -n "$monitor" ]; then
        kill -TERM "$monitor" 2>/dev/null || true
        wait "$monitor" 2>/dev/null || true
        echo "run.sh: stopped the virtual panel (painel-monitor)"
    fi
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Its output goes to a file rather than a pipe: nobody would read a pipe after the first line,
# and the monitor would stall once it filled up.
"$monitor_program" --pty --window >"$log" &
monitor=$!

# The first line is the pseudo-terminal's path, written out in one piece.
for _ in $(seq 100); do
    if [ "$(wc -l <"$log")" -ge 1 ]; then
        IFS= read -r pty <"$log"
        break
    fi
    if ! kill -0 "$monitor" 2>/dev/null; then break; fi
    sleep 0.1
done
if [ -z "$pty" ]; then
    echo "run.sh: painel-monitor did not start" >&2
    exit 1
fi

ln -s "$pty" "$com1"
echo "run.sh: no panel configured; COM1 is the virtual panel on $pty for this run"
echo "run.sh: frames are logged in $log"

status=0
"$program" "$@" || status=$?
exit "$status"
