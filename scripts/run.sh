#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the two programs and starts painel-sinaletico. When COM1 is not bound to a device, a
# virtual panel (painel-monitor on a pseudo-terminal, with its window) stands in for the panel
# for this run, and its frame log is kept. The virtual panel loops the cable back (--eco), and
# COM1's "Eco do cabo" is on for the run unless painel-sinaletico.conf already says either way.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_DIR:-$root/build}
# A fresh build folder is made without the tests (their packages are the test script's to
# install); one the test script made keeps them, so a run never takes them away.
configure=()
[ -f "$build_dir/CMakeCache.txt" ] || configure=(-DBUILD_TESTING=OFF)
DEPS=build BUILD_TARGETS="painel-sinaletico painel-monitor" "$root/scripts/build.sh" "${configure[@]}"

program=$build_dir/painel-sinaletico
monitor_program=$build_dir/painel-monitor
config=${XDG_CONFIG_HOME:-$HOME/.config}/painel-sinaletico
com1=$config/com1
# The run's end of COM1 lives in the runtime folder, which the system empties at log-out.
run_dir=${XDG_RUNTIME_DIR:-${TMPDIR:-/tmp}/runtime-$(id -un)}/painel-sinaletico
virtual=$run_dir/virtual-com1

if [ -L "$com1" ]; then
    target=$(readlink "$com1")
    if [ "$target" != "$virtual" ]; then
        case "$target" in
        /dev/pts/*)
            # Left by an older run that was killed: the pseudo-terminal may be another
            # program's terminal by now, so it is never written to.
            echo "run.sh: replacing the stale link $com1 -> $target"
            rm -f "$com1" ;;
        *)
            # Bound by the operator, even to an adapter unplugged just now: the program says
            # it cannot open it rather than us replacing it.
            exec "$program" "$@" ;;
        esac
    elif [ -e "$virtual" ]; then
        echo "run.sh: another run's virtual panel is COM1; starting the program on it"
        exec "$program" "$@"
    fi
elif [ -e "$com1" ]; then
    exec "$program" "$@"
fi

mkdir -p "$config"
mkdir -p -m 700 "$run_dir"
state=${XDG_STATE_HOME:-$HOME/.local/state}/painel-sinaletico
mkdir -p "$state"
log=$state/painel-monitor-$(date +%Y%m%d-%H%M%S).log
conf=$config/painel-sinaletico.conf
monitor=
program_pid=
echo_added=

# COM1's echo for the run, only when the operator's file does not set it.
if ! awk '/^\[/ { group = $0 } group == "[eco]" && /^com1=/ { found = 1 } END { exit !found }' "$conf" 2>/dev/null; then
    if grep -qx '\[eco\]' "$conf" 2>/dev/null; then
        sed -i '/^\[eco\]$/a com1=true' "$conf"
    else
        printf '\n[eco]\ncom1=true\n' >>"$conf"
    fi
    echo_added=yes
fi

cleanup() {
    if [ -n "$program_pid" ]; then kill -TERM "$program_pid" 2>/dev/null || true; fi
    if [ -n "$monitor" ]; then
        kill -TERM "$monitor" 2>/dev/null || true
        wait "$monitor" 2>/dev/null || true
    fi
    if [ "$(readlink "$com1" 2>/dev/null)" = "$virtual" ]; then rm -f "$com1"; fi
    # The run's echo goes with it, unless the operator changed it meanwhile ("Portas série…").
    if [ -n "$echo_added" ] && [ -f "$conf" ]; then
        # The line added, then the group if nothing is left in it.
        awk '/^\[/ { group = $0 }
             group == "[eco]" && $0 == "com1=true" { next }
             { line[++n] = $0 }
             END {
                 for (i = 1; i <= n; i++) {
                     if (line[i] == "[eco]") {
                         for (j = i + 1; j <= n && line[j] == ""; j++) {}
                         if (j > n || line[j] ~ /^\[/) { i = j - 1; continue }
                     }
                     print line[i]
                 }
             }' "$conf" >"$conf.run" && mv "$conf.run" "$conf"
    fi
    echo "run.sh: the virtual panel's frame log is $log"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Both programs end with this script, however it ends (--pdeathsig). The monitor's link goes
# through its own /proc entry, so it dangles as soon as the monitor is gone.
setpriv --pdeathsig TERM "$monitor_program" --pty --eco --window --beside-program --link "$virtual" >"$log" &
monitor=$!
for _ in $(seq 100); do
    [ -L "$virtual" ] && break
    kill -0 "$monitor" 2>/dev/null || break
    sleep 0.1
done
if [ ! -e "$virtual" ]; then
    echo "run.sh: painel-monitor did not start" >&2
    exit 1
fi
ln -sfn "$virtual" "$com1"
echo "run.sh: no panel bound; COM1 is the virtual panel on $(head -n 1 "$log") for this run"

setpriv --pdeathsig TERM "$program" "$@" &
program_pid=$!
status=0
wait -n -p finished "$program_pid" "$monitor" || status=$?
if [ "$finished" = "$monitor" ]; then
    echo "run.sh: the virtual panel was closed; COM1 leads nowhere now, so the program's sends fail until the next run"
    monitor=
    status=0
    wait "$program_pid" || status=$?
fi
program_pid=
exit "$status"
