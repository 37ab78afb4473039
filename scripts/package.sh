#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the programs without the tests, with Debian's hardening flags, into BUILD_DIR (default
# build-pkg/) and writes the Debian package there:
#   build-pkg/painel-sinaletico_<version>-1_<arch>.deb
# ARCH=arm64 cross-builds it for arm64 instead, into build-pkg-arm64/ (scripts/arm64.sh makes the same
# package beside its tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${ARCH:-$(dpkg --print-architecture)}
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    preset=default deps=package build_dir=${BUILD_DIR:-$root/build-pkg}
else
    preset=$arch deps=$arch build_dir=${BUILD_DIR:-$root/build-pkg-$arch}
    # The flags of a package built for that architecture.
    export DEB_HOST_ARCH=$arch
fi

"$root/scripts/deps.sh" "$deps"
# Debian's compiler and linker flags (fortify, stack protector, relro, now), as a package of
# the archive gets them.
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS CPPFLAGS LDFLAGS
CXXFLAGS="$CXXFLAGS $CPPFLAGS"
DEPS=$deps PRESET=$preset BUILD_DIR="$build_dir" BUILD_TYPE=Release "$root/scripts/build.sh" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr -DPAINEL_DEBIAN_PACKAGE=ON
rm -f "$build_dir"/painel-sinaletico_*.deb
(cd "$build_dir" && cpack -G DEB >&2)
ls "$build_dir"/painel-sinaletico_*.deb
