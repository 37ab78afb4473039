#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages one of the project's jobs needs, when any is missing:
#   deps.sh build   the two programs (compiler, CMake, Qt Widgets, SerialPort, DBus and SQL with SQLite, Qt's
#                   Portuguese texts, libmosquitto)
#   deps.sh test    and the test suite (GoogleTest, Qt Test, Xvfb, xdotool, openbox, clang for the fuzzer, clang-format for the layout, dbus-daemon, the Mosquitto broker and openssl for its test certificates,
#                   and what the package's checks need)
#   deps.sh bench   and the benchmarks (Google Benchmark, the Mosquitto broker)
#   deps.sh package the programs and their Debian package, and its checks (dpkg-dev, lintian,
#                   desktop-file-utils, appstream, man-db)
#   deps.sh windows the Windows build and its tests: the mingw-w64 compiler, Debian's Qt as the host
#                   tools and its Portuguese texts, GoogleTest's sources, NSIS, Wine (64-bit), and
#                   what the tests under Wine need (unzip, Xvfb, xdotool, openbox, ImageMagick)
set -euo pipefail

packaging=(dpkg-dev file lintian desktop-file-utils appstream man-db)
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite qt6-translations-l10n libmosquitto-dev libgl-dev fonts-dejavu-core)
case "${1:-test}" in
    build) ;;
    test) packages+=(libgtest-dev libgmock-dev clang clang-format libclang-rt-14-dev xvfb xdotool openbox dbus-daemon mosquitto openssl "${packaging[@]}") ;;
    bench) packages+=(libgtest-dev libgmock-dev libbenchmark-dev xvfb xdotool mosquitto) ;;
    package) packages+=("${packaging[@]}") ;;
    windows) packages=(cmake ninja-build xz-utils qt6-base-dev qt6-base-dev-tools qt6-translations-l10n g++-mingw-w64-x86-64-posix
                       gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest nsis wine wine64 unzip xvfb xdotool openbox imagemagick) ;;
    *) echo "usage: $0 [build|test|bench|package|windows]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi
