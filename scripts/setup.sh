#!/usr/bin/env bash
# Installs everything Korvinet needs to build, test and run on Debian 12.
# Safe to run again: it only calls apt when a package is missing.
#   scripts/setup.sh            build, test and run
#   scripts/setup.sh --package  also what building and checking the .deb needs
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins qt6-serialport-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libjpeg62-turbo-dev libftp-dev libftdi1-dev libmosquitto-dev libmicrohttpd-dev
    libcurl4-openssl-dev libssl-dev libsqlite3-dev zlib1g-dev
    mosquitto openssl chromium prometheus systemd
    python3 python3-pyftpdlib python3-pandas
    fonts-liberation fonts-dejavu-core
    xvfb xauth xdg-utils libxcb1-dev
    locales
)
if [ "${1:-}" = "--package" ]; then
    packages+=(dpkg-dev file desktop-file-utils appstream x11-utils)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests check that numbers keep their decimal point under a German
# process locale; Debian generates no locale but C.UTF-8 by itself.
if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf8'; then
    echo "Generating the de_DE.UTF-8 locale"
    "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
