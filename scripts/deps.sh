#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages one of the project's jobs needs, when any is missing:
#   deps.sh build   the two programs (compiler, CMake, Qt Widgets, SerialPort, DBus and SQL with SQLite, Qt's
#                   Portuguese texts, libmosquitto)
#   deps.sh test    and the test suite (GoogleTest, Qt Test, Xvfb, xdotool, openbox, clang for the fuzzer, clang-format for the layout, dbus-daemon, the Mosquitto broker and openssl for its test certificates,
#                   pdftotext to read the exported PDF back, and what the package's checks need)
#   deps.sh bench   and the benchmarks (Google Benchmark, the Mosquitto broker)
#   deps.sh package the programs and their Debian package, and its checks (dpkg-dev, lintian,
#                   desktop-file-utils, appstream, man-db)
#   deps.sh windows the Windows build and its tests: the mingw-w64 compiler, Debian's Qt as the host
#                   tools and its Portuguese texts, GoogleTest's sources, NSIS, Wine (64-bit),
#                   dpkg-dev to unpack the source packages of libmosquitto and OpenSSL, and what the
#                   tests under Wine need (unzip, Xvfb, xdotool, openbox, ImageMagick, Mosquitto
#                   with its clients, openssl for the test certificates)
#   deps.sh arm64   the arm64 build and its tests: Debian's cross compiler, the arm64 libraries beside
#                   this machine's (multiarch: Qt, libmosquitto, libsystemd, GoogleTest), qemu-user,
#                   Mosquitto, and what the arm64 package needs
#   deps.sh node-red the example flow's check: Mosquitto, curl, Node.js and npm (Debian's, unless a
#                   Node.js with npm is there already), and Node-RED from npm, once, into
#                   ~/.cache/painel-sinaletico/node-red/
set -euo pipefail
node_red_version=4.1.8

packaging=(dpkg-dev file lintian desktop-file-utils appstream man-db systemd)
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite qt6-translations-l10n libmosquitto-dev libsystemd-dev libgl-dev fonts-dejavu-core)
case "${1:-test}" in
    build) ;;
    test) packages+=(libgtest-dev libgmock-dev clang clang-format libclang-rt-14-dev xvfb xdotool openbox dbus-daemon mosquitto openssl python3-jsonschema poppler-utils "${packaging[@]}") ;;
    bench) packages+=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xdotool mosquitto) ;;
    package) packages+=("${packaging[@]}") ;;
    windows) packages=(cmake ninja-build xz-utils qt6-base-dev qt6-base-dev-tools qt6-translations-l10n g++-mingw-w64-x86-64-posix
                       gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest nsis wine wine64 unzip xvfb xdotool openbox imagemagick
                       dpkg-dev perl mosquitto mosquitto-clients openssl python3) ;;
    arm64) packages+=(crossbuild-essential-arm64 qemu-user mosquitto "${packaging[@]}")
           for p in qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libmosquitto-dev libsystemd-dev libgtest-dev; do packages+=("$p:arm64"); done ;;
    node-red) packages=(mosquitto curl python3)
              command -v npm >/dev/null || packages+=(nodejs npm) ;;
    *) echo "usage: $0 [build|test|bench|package|windows|arm64|node-red]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    # arm64's libraries come from the same archive, once dpkg takes that architecture too.
    if [ "${1:-test}" = arm64 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then "${sudo_cmd[@]}" dpkg --add-architecture arm64; fi
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi

if [ "${1:-test}" = node-red ]; then
    place=${XDG_CACHE_HOME:-$HOME/.cache}/painel-sinaletico/node-red
    if [ "$(cat "$place/version" 2>/dev/null)" != "$node_red_version" ]; then
        echo "Installing Node-RED $node_red_version from npm into $place"
        rm -rf "$place" && mkdir -p "$place"
        (cd "$place" && npm install --no-audit --no-fund --omit=dev "node-red@$node_red_version")
        echo "$node_red_version" >"$place/version"
    fi
fi
