#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The programs for arm64 posts (a Raspberry Pi 3 or later on a 64-bit system, and their kind),
# built once with Debian's cross compiler, multiarch Qt and the package's hardening flags into
# build-arm64/; the core's tests run under qemu-user there (among them the post without a screen
# started end to end, its start-up frames read on a pseudo-terminal); then the Debian package
# from the same build, checked: build-arm64/painel-sinaletico_<version>-1_arm64.deb
# The windows' tests are this machine's business and stay out. About 15 min on 2 cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${ARM64_BUILD_DIR:-$root/build-arm64}
fail() { echo "arm64: $*" >&2; exit 1; }

"$root/scripts/deps.sh" arm64
eval "$(DEB_HOST_ARCH=arm64 dpkg-buildflags --export=sh 2>/dev/null)"
export CXXFLAGS CPPFLAGS LDFLAGS
CXXFLAGS="$CXXFLAGS $CPPFLAGS"
(cd "$root" && cmake --preset arm64 -B "$build_dir" -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPAINEL_DEBIAN_PACKAGE=ON)
cmake --build "$build_dir" --parallel "$(nproc)"
# Emulated, everything takes longer: the same tests, with room for it. Those that start a
# process (a broker, a bus, the programs, sleep) are left out: Qt starts processes with
# clone(CLONE_VFORK | CLONE_PIDFD), which Debian 12's qemu-user refuses (EINVAL), so the start
# itself fails there. The post's own start is checked end to end below instead, qemu-user
# starting it as a shell would.
spawning='QtSerialPortTest\.(TheEchoProves|ALiveProgramsLock|OpenFailuresSay)|DoorTest\.TheSessionBus|PostMqttClient\.EachConnection|BrokerTest|BrokerPair|MosquittoAcl|PostService'
ctest --test-dir "$build_dir" -L CORE -E "$spawning" --output-on-failure --timeout 900
python3 "$root/tests/arm64/service_start.py" "$build_dir"

rm -f "$build_dir"/painel-sinaletico_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(painel-sinaletico VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb=$build_dir/painel-sinaletico_${version}-1_arm64.deb
[ -f "$deb" ] || fail "no $deb"
[ "$(dpkg-deb -f "$deb" Architecture)" = arm64 ] || fail "$deb is not for arm64"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6' || fail "$deb's dependencies were not found"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch"
for program in painel-posto painel-sinaletico painel-central painel-monitor; do
    file -b "$scratch/usr/bin/$program" | grep -q 'ARM aarch64' || fail "$program in $deb is not an arm64 program"
done
qemu-aarch64 "$scratch/usr/bin/painel-posto" --version | grep -qx "painel-posto $version" || fail "the packaged painel-posto does not run"
echo "arm64: $(basename "$deb") passes"
