#!/usr/bin/env bash
# Installs everything Korvinet needs to build, test and run on Debian 12.
# Safe to run again: it only calls apt when a package is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins
    libgtest-dev libgmock-dev libbenchmark-dev
    libjpeg62-turbo-dev libftp-dev libftdi1-dev
    python3 python3-pyftpdlib python3-pandas
    fonts-liberation fonts-dejavu-core
    xvfb xauth xdg-utils
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
