#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the broker's client for Windows x86_64: libmosquitto with TLS, on OpenSSL, both from
# Debian's own source packages (the libmosquitto the Linux build links, and bookworm's OpenSSL 3.0),
# with Debian's mingw-w64 compiler (posix threads), into PREFIX (first argument):
#   bin/libmosquitto.dll bin/libcrypto-3-x64.dll bin/libssl-3-x64.dll, their headers and import
#   libraries, lib/pkgconfig/libmosquitto.pc, and licences/ (each project's licence, as shipped).
# Every source file is checked against the SHA-256 below before it is used. PREFIX/.stamp holds
# this script's own hash: scripts/windows.sh runs the script again when the stamp is missing or
# differs (a new version here, a changed recipe). About 5 minutes on 2 cores.
set -euo pipefail
prefix=${1:?usage: $0 PREFIX}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
stamp=$(sha256sum "$0" | cut -d' ' -f1)
if [ "$(cat "$prefix/.stamp" 2>/dev/null)" = "$stamp" ]; then exit 0; fi

mosquitto=2.0.11-1.2+deb12u2
openssl=3.0.20-1~deb12u2
sums="77afb2d38230b37b085ff7b363a71669951044460e28731e958c0b94019e9263  mosquitto_2.0.11-1.2+deb12u2.dsc
7b36a7198bce85cf31b132f5c6ee36dcf5dadf86fb768501eb1e11ce95d4f78a  mosquitto_2.0.11.orig.tar.gz
e7a5c96b064b266ec7708591f110f8cce69430d0725b08a508ec8d515983767d  mosquitto_2.0.11-1.2+deb12u2.debian.tar.xz
a614474a2773c23b10c0d65f4eccbcf93fdac4749afb7c26d76e1b0340154d3d  openssl_3.0.20-1~deb12u2.dsc
c80a01dfc70ece4dc21168932c37739042d404d46ccc81a5986dd75314ecda6f  openssl_3.0.20.orig.tar.gz
7279efe85c359500c95aa88347e3395dd303d7566e2bb818d80d96e0c3bb9629  openssl_3.0.20-1~deb12u2.debian.tar.xz"

work=$prefix.work
jobs=$(nproc)
rm -rf "$prefix" "$work" && mkdir -p "$work/src" "$work/lists/partial"
cd "$work"
echo "Building libmosquitto $mosquitto and OpenSSL $openssl for Windows into $prefix (about 5 minutes)"

# The source packages, through a private list of the archive the machine's apt already uses.
uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
[ -n "$uri" ] || uri=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list)
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm main" >src.list
apt_src=(-o Dir::Etc::SourceList="$work/src.list" -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
apt-get "${apt_src[@]}" update -qq
(cd src && apt-get "${apt_src[@]}" -qq source --download-only "mosquitto=$mosquitto" "openssl=$openssl" 2>&1 | grep -v unsandboxed || true)
(cd src && sha256sum --quiet -c - <<<"$sums") || { echo "the source packages differ from the ones this script knows" >&2; exit 1; }
dpkg-source --no-check -x src/mosquitto_$mosquitto.dsc mosquitto >/dev/null
dpkg-source --no-check -x src/openssl_$openssl.dsc openssl >/dev/null

# OpenSSL: its libraries only (no programs, tests or manuals), as DLLs. The folders they read a
# configuration, engines and modules from are fixed when built: under OpenSSL's own Windows
# default, C:\Program Files\OpenSSL, which only an administrator may write to (a folder of this
# machine's, under C:\ on Windows, would let any user there give the program a configuration that
# loads code of theirs).
(cd openssl && ./Configure mingw64 shared no-tests --cross-compile-prefix=x86_64-w64-mingw32- CC=gcc-posix \
    --prefix="C:/Program Files/OpenSSL" --libdir=lib --openssldir=SSL >../openssl-configure.log &&
    make -j"$jobs" build_libs >../openssl-build.log 2>&1 && make install_dev DESTDIR="$work/stage/" >../openssl-install.log 2>&1) ||
    { tail -n 30 openssl-*.log >&2; exit 1; }
strings openssl/libcrypto-3-x64.dll | grep -x 'OPENSSLDIR: "C:/Program Files/OpenSSL/SSL"' >/dev/null || { echo "OpenSSL's folders are not the ones meant" >&2; exit 1; }
mkdir -p "$prefix" && cp -a "$work/stage/C:/Program Files/OpenSSL/." "$prefix/"

# libmosquitto alone, threaded on MinGW's own pthreads (its recipe expects pthreads-win32 in C:\).
sed -i 's|C:\\\\pthreads\\\\Pre-built.2\\\\lib\\\\x[0-9]*\\\\pthreadVC2.lib|pthread|; s|C:\\\\pthreads\\\\Pre-built.2\\\\include||' mosquitto/CMakeLists.txt
! grep -q 'pthreadVC2' mosquitto/CMakeLists.txt || { echo "libmosquitto's threading recipe is not the one this script mends" >&2; exit 1; }
cmake -S mosquitto -B mosquitto-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DOPENSSL_ROOT_DIR="$prefix" -DWITH_TLS=ON -DWITH_TLS_PSK=ON -DWITH_THREADING=ON \
    -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF \
    -DWITH_CJSON=OFF -DDOCUMENTATION=OFF -DWITH_SRV=OFF >mosquitto-configure.log ||
    { tail -n 30 mosquitto-configure.log >&2; exit 1; }
cmake --build mosquitto-build --parallel "$jobs" >mosquitto-build.log || { tail -n 30 mosquitto-build.log >&2; exit 1; }
cmake --install mosquitto-build >mosquitto-install.log
# Its recipe installs the DLL but not the import library the program links with.
cp mosquitto-build/lib/libmosquitto.dll.a "$prefix/lib/"

# What the program's build asks pkg-config for, as on Linux.
mkdir -p "$prefix/lib/pkgconfig"
cat >"$prefix/lib/pkgconfig/libmosquitto.pc" <<PC
prefix=$prefix
Name: libmosquitto
Description: mosquitto MQTT library (C bindings), for Windows
Version: ${mosquitto%%-*}
Cflags: -I\${prefix}/include
Libs: -L\${prefix}/lib -lmosquitto
PC
mkdir -p "$prefix/licences"
cp mosquitto/LICENSE.txt "$prefix/licences/libmosquitto-LICENSE.txt"
cp mosquitto/epl-v20 "$prefix/licences/libmosquitto-epl-v20.txt"
cp mosquitto/edl-v10 "$prefix/licences/libmosquitto-edl-v10.txt"
cp openssl/LICENSE.txt "$prefix/licences/openssl-LICENSE.txt"
x86_64-w64-mingw32-strip --strip-unneeded "$prefix"/bin/*.dll
for file in bin/libmosquitto.dll bin/libcrypto-3-x64.dll bin/libssl-3-x64.dll lib/libmosquitto.dll.a include/mosquitto.h; do
    [ -f "$prefix/$file" ] || { echo "no $file was built" >&2; exit 1; }
done
cd / && rm -rf "$work"
echo "$stamp" >"$prefix/.stamp"
