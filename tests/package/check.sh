#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it: its name, its file list and fields, the desktop entry
# and the metainfo by their validators, lintian (no error), and the programs it holds, unpacked
# into a scratch folder (never installed on this machine): the virtual panel on a
# pseudo-terminal linked as COM1, the program offscreen, and the 57 bytes of the start-up on
# the line.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${PACKAGE_BUILD_DIR:-$root/build-pkg}
fail() { echo "package check: $*" >&2; exit 1; }

BUILD_DIR="$build_dir" "$root/scripts/package.sh" >/dev/null
version=$(sed -n 's/^project(painel-sinaletico VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
app_id=$(sed -n 's/^set(PAINEL_APP_ID \(.*\))$/\1/p' "$root/CMakeLists.txt")
deb=$build_dir/painel-sinaletico_${version}-1_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in usr/bin/painel-sinaletico usr/bin/painel-monitor usr/bin/painel-central usr/bin/painel-posto \
            usr/lib/systemd/system/painel-posto.service usr/lib/systemd/user/painel-posto.service usr/lib/sysusers.d/painel-sinaletico.conf \
            usr/share/man/man1/painel-posto.1.gz \
            "usr/share/applications/$app_id.desktop" "usr/share/applications/$app_id.Central.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
            "usr/share/icons/hicolor/scalable/apps/$app_id.svg" "usr/share/icons/hicolor/48x48/apps/$app_id.png" \
            "usr/share/icons/hicolor/256x256/apps/$app_id.png" "usr/share/icons/hicolor/16x16/apps/$app_id.png" \
            "usr/share/icons/hicolor/32x32/apps/$app_id.png" \
            "usr/share/dbus-1/interfaces/$app_id.Painel1.xml" \
            usr/share/man/man1/painel-sinaletico.1.gz usr/share/man/man1/painel-monitor.1.gz usr/share/man/man1/painel-central.1.gz \
            usr/share/doc/painel-sinaletico/mosquitto/painel-sinaletico.acl \
            usr/share/painel-sinaletico/schemas/pedido.schema.json usr/share/painel-sinaletico/schemas/estado.schema.json \
            usr/share/painel-sinaletico/schemas/info.schema.json usr/share/painel-sinaletico/schemas/resposta.schema.json \
            usr/share/painel-sinaletico/node-red/painel-sinaletico.json \
            usr/share/doc/painel-sinaletico/LICENSE usr/share/doc/painel-sinaletico/copyright \
            usr/share/doc/painel-sinaletico/README.md usr/share/doc/painel-sinaletico/README.Debian; do
    grep -qx "\./$path" <<<"$listing" || fail "$path is not in the package"
done
for field in "Section: electronics" "Priority: optional" "Version: ${version}-1"; do
    dpkg-deb -f "$deb" | grep -qx "$field" || fail "no '$field' in the control file"
done
for dependency in libqt6serialport6 libqt6widgets6 libqt6sql6-sqlite qt6-translations-l10n libsystemd0; do
    dpkg-deb -f "$deb" Depends | grep -q "\b$dependency\b" || fail "does not depend on $dependency"
done

scratch=$(mktemp -d)
monitor=
program=
cleanup() {
    for pid in $program $monitor; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
dpkg -x "$deb" "$scratch/root"
for entry in "$app_id" "$app_id.Central"; do
    desktop-file-validate "$scratch/root/usr/share/applications/$entry.desktop" || fail "desktop entry $entry"
done
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null || fail "metainfo"
lintian --fail-on error "$deb" >"$scratch/lintian.txt" 2>&1 || { cat "$scratch/lintian.txt" >&2; fail "lintian"; }
"$scratch/root/usr/bin/painel-monitor" --version | grep -qx "painel-monitor $version" || fail "painel-monitor --version"
"$scratch/root/usr/bin/painel-central" --version | grep -qx "painel-central $version" || fail "painel-central --version"
"$scratch/root/usr/bin/painel-posto" --version | grep -qx "painel-posto $version" || fail "painel-posto --version"
# The post without a screen loads no display library, whatever its libraries would pull in.
libraries=$(ldd "$scratch/root/usr/bin/painel-posto")
! grep -Eq 'libQt6(Gui|Widgets)|libX11|libxcb' <<<"$libraries" || fail "painel-posto links a display library"

# The service's units as systemd reads them (its ExecStart is looked up in the unpacked tree), and
# how exposed the system service is: below 2.0 on systemd's scale.
for unit in usr/lib/systemd/system/painel-posto.service usr/lib/systemd/user/painel-posto.service; do
    mkdir -p "$scratch/units/$(dirname "$unit")"
    sed "s|/usr/bin/painel-posto|$scratch/root/usr/bin/painel-posto|" "$scratch/root/$unit" >"$scratch/units/$unit"
    (cd "$scratch/units/$(dirname "$unit")" && systemd-analyze verify --man=no painel-posto.service) || fail "systemd-analyze verify $unit"
done
exposure=$(systemd-analyze security --offline=yes "$scratch/units/usr/lib/systemd/system/painel-posto.service" 2>/dev/null | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
[ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level"
echo "package check: painel-posto.service's exposure: $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e < 2.0) }' || fail "painel-posto.service is exposed at $exposure, not below 2.0"

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/config XDG_STATE_HOME=$scratch/home/state
export XDG_RUNTIME_DIR=$scratch/runtime QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/no-bus
mkdir -p "$XDG_CONFIG_HOME/painel-sinaletico" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
com1=$XDG_CONFIG_HOME/painel-sinaletico/com1
"$scratch/root/usr/bin/painel-monitor" --pty --link "$com1" >"$scratch/line.txt" 2>/dev/null &
monitor=$!
for _ in $(seq 100); do [ -e "$com1" ] && break; sleep 0.1; done
[ -e "$com1" ] || fail "the virtual panel did not start"
"$scratch/root/usr/bin/painel-sinaletico" >/dev/null 2>&1 &
program=$!
# Each frame line: its time, its bytes in hexadecimal, what it does.
bytes=0
for _ in $(seq 200); do
    bytes=$(awk 'NR > 1 { n = 0; for (i = 2; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; i++) n++; total += n } END { print total + 0 }' "$scratch/line.txt")
    [ "$bytes" -ge 57 ] && break
    sleep 0.1
done
[ "$bytes" -eq 57 ] || { cat "$scratch/line.txt" >&2; fail "the installed program sent $bytes bytes at start-up, not 57"; }
grep -q "display_on" "$scratch/line.txt" || fail "no display_on at start-up"
echo "package check: $(basename "$deb") passes"
