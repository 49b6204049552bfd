#!/usr/bin/env bash
# Builds Korvinet's Debian package into dist/ (korvinet_<version>_<arch>.deb):
# an optimised build with the debug information stripped, installed under
# /usr, its library dependencies found by dpkg-shlibdeps. Install it with
#   sudo apt-get install ./dist/korvinet_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --package
# Same flags as the normal build (scripts/test.sh), so after it nearly every
# object comes from the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DKORVINET_BUILD_TESTS=OFF -DKORVINET_BUILD_BENCHMARKS=OFF
cmake --build build-package
rm -f dist/korvinet_*.deb
(cd build-package && cpack -G DEB)
ls dist/korvinet_*.deb
