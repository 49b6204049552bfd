#!/usr/bin/env bash
# Builds Korvinet's Debian package into dist/ (korvinet_<version>_<arch>.deb):
# a Release build installed under /usr, its library dependencies found by
# dpkg-shlibdeps. Install it with
#   sudo apt-get install ./dist/korvinet_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --package
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DKORVINET_BUILD_TESTS=OFF -DKORVINET_BUILD_BENCHMARKS=OFF
cmake --build build-package
rm -f dist/korvinet_*.deb
(cd build-package && cpack -G DEB)
ls dist/korvinet_*.deb
