#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build under Wine (64-bit), in a fresh prefix of its own, against the Linux virtual
# panel:
#   1. the Qt-free core's tests;
#   2. the portable program from the zip, on the windows platform on Xvfb, its COM1 and COM2
#      mapped through Wine's registry to the pseudo-terminals of two virtual panels (never to
#      Wine's default /dev/ttyS*): the start-up's 57 bytes frame by frame, a click on "Xadrez" and
#      its ticks 250 ms apart, the command line, Preferências -> COM2 -> OK and the exact bytes of
#      pref.vyr, a second copy refused;
#   3. the installer: a silent install into Program Files with the two programs' Start-menu
#      entries and the broker's client with its licences, the installed
#      program's start-up (reading an older installation's c:\pref.vyr) on COM2, whose virtual
#      panel loops the cable back: the echo confirmed, then cut ("sem eco", exit 5); the silent
#      uninstall;
#   4. a site over TLS (tests/windows/site.sh): the Windows post and painel-central.exe with a
#      Linux post on a Linux Mosquitto.
# Usage: tests/windows/run.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:-$root/build-win}
linux=${2:-$root/build}
version=$(sed -n 's/^project(painel-sinaletico VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

scratch=$(mktemp -d)
export WINEPREFIX=$scratch/prefix WINEARCH=win64 WINEDEBUG=-all
# The windows are found by their Portuguese titles.
export LC_ALL=C.UTF-8
# No prompts to fetch Mono or Gecko, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "windows check: $*" >&2
    # What the screen showed, for whoever reads the failure.
    [ -z "${DISPLAY:-}" ] || timeout 20 import -window root "$win/windows-check-failed.png" 2>/dev/null || true
    for log in "$scratch"/*.log; do [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 40 "$log"; } >&2; done
    exit 1
}
step() { echo "== windows: $*"; }
# Nothing here may wait for ever: a hung program or window fails the check instead.
xdo() { timeout 20 xdotool "$@" || fail "xdotool $* did not finish"; }
# Tries the command every 100 ms for up to $1 seconds.
within() {
    local tenths=$(($1 * 10))
    shift
    for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
    return 1
}
# The frames a virtual panel has printed since line $2 of its log, without their times.
frames_since() { tail -n +$(($2 + 1)) "$1" | grep '  A5 ' | sed 's/^[0-9.]*  //' || true; }
lines_of() { wc -l <"$1"; }
has_frames() { [ "$(frames_since "$1" "$2" | head -n "$3" | wc -l)" -ge "$3" ]; }

step "the core's tests"
timeout 180 wineboot -i >/dev/null 2>&1 || fail "Wine did not set its prefix up"
timeout 120 wine "$win/tests/test_panel.exe" >"$scratch/core.log" 2>&1 || fail "the core's tests failed under Wine"
grep -q '^\[  PASSED  \]' "$scratch/core.log" || fail "the core's tests said nothing"

step "two virtual panels, COM1 and COM2 in Wine's registry"
for n in 1 2; do
    # COM2's cable loops back, for the installed program's echo.
    "$linux/painel-monitor" --pty $([ "$n" = 2 ] && echo --eco) >"$scratch/com$n.log" 2>&1 &
    pids+=($!)
    [ "$n" = 2 ] && com2_monitor=$!
done
within 10 test -s "$scratch/com1.log" -a -s "$scratch/com2.log" || fail "the virtual panels did not start"
for n in 1 2; do
    timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$(head -n 1 "$scratch/com$n.log")" /f >/dev/null 2>&1 ||
        fail "COM$n could not be mapped"
done
# Wine reads the ports again when it starts anew.
wineserver -k
timeout 60 wineserver -w || fail "Wine's server did not end"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$scratch/display" >/dev/null 2>&1 &
pids+=($!)
within 10 test -s "$scratch/display" || fail "Xvfb did not start"
export DISPLAY=:$(cat "$scratch/display") QT_QPA_PLATFORM=windows
openbox >/dev/null 2>&1 &
pids+=($!)

step "the portable program: start-up"
mkdir "$scratch/portable"
(cd "$scratch/portable" && unzip -q "$win/painel-sinaletico-$version-win64.zip")
program=$scratch/portable/painel-sinaletico.exe
# The version in the file's properties (a UTF-16 string of its resources).
strings -el "$program" | grep -x "$version" >/dev/null || fail "no version $version in the program's properties"
wine "$program" >"$scratch/program.log" 2>&1 &
first=$!
pids+=($first)
startup="A5 79 5A 75 E7  set_redled_time 25
A5 79 5A 76 51  set_greenled_time 175
A5 79 5A 71  display_on
A5 79 5A 75 E7  set_redled_time 25
A5 79 5A 76 51  set_greenled_time 175
A5 79 5A 73 C3 E7 7E 3C 3C 7E E7 C3  red plane
A5 79 5A 74 00 00 00 00 00 00 00 00  green plane
A5 79 5A 7B 04  set_sign_code 4
A5 79 5A 71  display_on"
within 60 has_frames "$scratch/com1.log" 1 9 || fail "no start-up on COM1"
[ "$(frames_since "$scratch/com1.log" 1)" = "$startup" ] || fail "the start-up differs: $(frames_since "$scratch/com1.log" 1)"
# Nothing but those 57 bytes: the virtual panel would print anything else as bytes it cannot decode.
grep -qv '^[0-9.]*  A5 \|^[.RGY ]*$\|^/dev/' <(tail -n +2 "$scratch/com1.log") && fail "more than the start-up on COM1"

step "a click on Xadrez"
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(window "$1")" ]; }
within 30 shown '^Tramonda' || fail "no window"
main=$(window '^Tramonda')
before=$(lines_of "$scratch/com1.log")
# The button's place in the client area, from the window's layout in twips at 96 dpi.
xdo windowactivate --sync "$main" mousemove --window "$main" 33 219 click 1
within 10 has_frames "$scratch/com1.log" "$before" 12 || fail "no chequered flag on COM1"
flag=$(frames_since "$scratch/com1.log" "$before" | head -n 10)
[ "$flag" = "A5 79 5A 75 9C  set_redled_time 100
A5 79 5A 76 9C  set_greenled_time 100
A5 79 5A 73 33 33 CC CC 33 33 CC CC  red plane
A5 79 5A 74 CC CC 33 33 CC CC 33 33  green plane
A5 79 5A 7B 07  set_sign_code 7
A5 79 5A 71  display_on
A5 79 5A 73 CC CC 33 33 CC CC 33 33  red plane
A5 79 5A 74 33 33 CC CC 33 33 CC CC  green plane
A5 79 5A 73 33 33 CC CC 33 33 CC CC  red plane
A5 79 5A 74 CC CC 33 33 CC CC 33 33  green plane" ] || fail "the chequered flag differs: $flag"
# The ticks' pace, from the times the virtual panel gave their first frames (milliseconds).
within 10 has_frames "$scratch/com1.log" "$before" 16 || fail "the flag stopped"
tail -n +$((before + 1)) "$scratch/com1.log" | grep '  A5 79 5A 73' | head -n 6 | awk '
    NR > 1 { gap = $1 - last; if (gap < 150 || gap > 450) bad = bad " " gap; sum += gap }
    { last = $1 }
    END { mean = sum / (NR - 1); if (bad != "" || mean < 230 || mean > 290) { printf "ticks%s, mean %.0f ms\n", bad, mean; exit 1 } }' ||
    fail "the ticks are not 250 ms apart"

step "the command line"
state=$(timeout 60 wine "$program" --estado 2>&1 | tr -d '\r') || fail "--estado failed: $state"
[ "$state" = "sinal: Xadrez
modo: multicor
cor: 
porta: COM1
dispositivo: COM1
ligacao: ligação em ordem
ultima_falha: 
eco: desligado
resta_s:" ] || fail "--estado said: $state"
code=0
timeout 60 wine "$program" --sinal nada >/dev/null 2>&1 || code=$?
[ "$code" = 2 ] || fail "--sinal nada ended with $code, not 2"

step "Preferências -> COM2 -> OK"
before2=$(lines_of "$scratch/com2.log")
xdo windowactivate --sync "$main" key ctrl+p
within 20 shown '^Opções$' || fail "no Opções window"
xdo windowactivate --sync "$(window '^Opções$')" key Down Return
roaming() { find "$WINEPREFIX/drive_c/users" -path '*/AppData/Roaming/painel-sinaletico/pref.vyr' | head -n 1; }
has_roaming() { [ -n "$(roaming)" ]; }
within 20 has_roaming || fail "no pref.vyr in %APPDATA%"
prefs=$(roaming)
[ "$(od -An -c "$prefs" | tr -s ' ')" = "$(printf 'COM=2\r\nMODE= 1\r\nCOLOUR= 255\r\n' | od -An -c | tr -s ' ')" ] ||
    fail "pref.vyr holds: $(od -c "$prefs")"
within 10 has_frames "$scratch/com2.log" "$before2" 2 || fail "the flag did not move to COM2"

step "a second copy"
# Minimised first: the refused copy must bring it back to the front.
xdo windowminimize --sync "$main"
within 10 bash -c "! xdotool search --onlyvisible --name '^Tramonda' >/dev/null 2>&1" || fail "the window would not minimise"
wine "$program" >"$scratch/second.log" 2>&1 &
second=$!
pids+=($second)
within 30 shown '^Info$' || fail "the second copy said nothing"
xdo windowactivate --sync "$(window '^Info$')" key Return
within 20 bash -c "! kill -0 $second 2>/dev/null" || fail "the second copy did not end"
wait "$second" || fail "the second copy ended with $?"
kill -0 "$first" || fail "the first copy ended"
within 10 shown '^Tramonda' || fail "the running copy did not come forward"
xdo windowactivate --sync "$main" key ctrl+x
within 20 bash -c "! kill -0 $first 2>/dev/null" || fail "Sair did not end the program"

step "the installer"
timeout 180 wine "$win/painel-sinaletico-$version-win64-setup.exe" /S >"$scratch/setup.log" 2>&1 || fail "the installer failed"
installed="$WINEPREFIX/drive_c/Program Files/Painel Sinaletico"
[ -f "$installed/painel-sinaletico.exe" ] || fail "nothing in Program Files: $(ls "$WINEPREFIX/drive_c/Program Files")"
[ -n "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Painel Sinal*.lnk')" ] || fail "no Start-menu entry"
[ -n "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Painel Central.lnk')" ] || fail "no Start-menu entry for Painel Central"
[ -f "$installed/painel-central.exe" ] && [ -f "$installed/libmosquitto.dll" ] && [ -f "$installed/licences/openssl-LICENSE.txt" ] ||
    fail "the installation lacks the control room or the broker's client: $(ls "$installed")"
# An older installation's settings: c:\pref.vyr, read while %APPDATA% has none (COM2 here).
cp "$prefs" "$WINEPREFIX/drive_c/pref.vyr"
rm "$prefs"
printf '[eco]\r\ncom2=true\r\n' >"$(dirname "$prefs")/painel-sinaletico.conf"
before2=$(lines_of "$scratch/com2.log")
wine "$installed/painel-sinaletico.exe" >"$scratch/installed.log" 2>&1 &
pids+=($!)
within 60 has_frames "$scratch/com2.log" "$before2" 9 || fail "no start-up from the installed program on COM2"
[ "$(frames_since "$scratch/com2.log" "$before2" | head -n 9)" = "$startup" ] || fail "the installed program's start-up differs"
within 30 shown '^Tramonda' || fail "no window"
echo_state() { timeout 60 wine "$installed/painel-sinaletico.exe" --estado 2>&1 | tr -d '\r' | grep '^eco: '; }
[ "$(echo_state)" = "eco: confirmado" ] || fail "the echo through Win32's port: $(echo_state)"
kill -USR1 "$com2_monitor"
within 10 grep -q 'eco: cabo cortado' "$scratch/com2.log" || fail "the virtual panel did not cut its cable"
code=0
said=$(timeout 60 wine "$installed/painel-sinaletico.exe" --sinal Parar 2>&1 | tr -d '\r') || code=$?
[ "$code" = 5 ] && [[ "$said" == "Parar enviado, mas sem prova de que chegou ao painel: sem eco do cabo em COM2"* ]] ||
    fail "a cut cable: exit $code, $said"
xdo windowactivate --sync "$(window '^Tramonda')" key ctrl+x
within 20 bash -c "! xdotool search --onlyvisible --name '^Tramonda' >/dev/null 2>&1" || fail "the installed program did not end"
timeout 60 wineserver -w || fail "the installed program's process did not end"
timeout 120 wine "$installed/Uninstall.exe" /S >"$scratch/uninstall.log" 2>&1 || fail "the uninstaller failed"
# The uninstaller works from a copy of itself, after the one started has returned.
within 30 test ! -e "$installed/painel-sinaletico.exe" || fail "the uninstaller left the program"

# shellcheck source=tests/windows/site.sh
source "$root/tests/windows/site.sh"
echo "windows check: all passed"
