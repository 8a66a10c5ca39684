#!/usr/bin/env bash
# Builds the Debian package tambrel_VERSION_ARCH.deb into build-deb/ (or the build folder given):
# a release build (hardened as Debian's packages are: cmake/CommonOptions.cmake), installed under
# /usr with the programs' private folder at /usr/lib/tambrel, packed by CPack
# (cmake/Package.cmake).
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
bash "$root/scripts/install-deps.sh"
# A build folder made already (the tests' own, in CI) is packed as it is.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBREL_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/tambrel_*.deb
