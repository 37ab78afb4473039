#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds the program for Windows x86_64 (Release) into build-win/ (WIN_BUILD_DIR), with the
# Qt-free core's tests, and makes the installer and the portable zip there:
#   build-win/painel-sinaletico-<version>-win64-setup.exe, build-win/painel-sinaletico-<version>-win64.zip
# Qt for Windows comes from ../shared/windows/ beside the project (or PAINEL_WINDOWS_QT, a folder
# holding qt6.4.2-mingw-x86_64.tar.xz or build-qt.sh): the prebuilt copy is unpacked once into
# ~/.cache/painel-sinaletico/; without one, its recipe builds Qt there once (about an hour).
# libmosquitto and OpenSSL for Windows are built there by scripts/windows-mqtt.sh, once, and again
# whenever that script changes (about 5 minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${WIN_BUILD_DIR:-$root/build-win}
shared=${PAINEL_WINDOWS_QT:-$root/../shared/windows}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/painel-sinaletico
qt=$cache/qt6-mingw

"$root/scripts/deps.sh" windows
if [ ! -x "$qt/bin/qt-cmake" ]; then
    mkdir -p "$cache"
    if [ -f "$shared/qt6.4.2-mingw-x86_64.tar.xz" ]; then
        echo "Unpacking Qt for Windows from $shared into $cache"
        rm -rf "$qt.part" && mkdir "$qt.part"
        tar -xJf "$shared/qt6.4.2-mingw-x86_64.tar.xz" -C "$qt.part" --strip-components=1
        mv "$qt.part" "$qt"
    elif [ -f "$shared/build-qt.sh" ]; then
        echo "No prebuilt Qt for Windows in $shared: building it once into $qt (about an hour on 2 cores)"
        (cd "$cache" && PREFIX="$qt.part" bash "$shared/build-qt.sh") && mv "$qt.part" "$qt"
    else
        echo "Qt for Windows not found: put qt6.4.2-mingw-x86_64.tar.xz (or build-qt.sh) in $shared, or name its folder in PAINEL_WINDOWS_QT" >&2
        exit 1
    fi
fi

mqtt=$cache/mqtt-mingw
"$root/scripts/windows-mqtt.sh" "$mqtt"

# The preset "windows" names that Qt's toolchain and libmosquitto's folder, as above; libmosquitto
# is found as on Linux, by pkg-config, there and only there.
(cd "$root" && PKG_CONFIG_LIBDIR=$mqtt/lib/pkgconfig cmake --preset windows -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$mqtt" "$@")
cmake --build "$build_dir" --parallel "$(nproc)"
(cd "$build_dir" && cpack -C Release)
ls "$build_dir"/painel-sinaletico-*-win64-setup.exe "$build_dir"/painel-sinaletico-*-win64.zip
