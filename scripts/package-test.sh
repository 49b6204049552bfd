#!/usr/bin/env bash
# Checks the Debian package as a user meets it: builds it, installs it with
# apt, runs the installed programs (the window under a virtual X display,
# with the simulated counter), removes it and checks nothing of it remains.
# Needs root or sudo: it installs into the system.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

bash scripts/package.sh
deb=$(ls dist/korvinet_*.deb | head -n 1)
version=$(dpkg-deb -f "$deb" Version)

"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb"
dpkg-query -L korvinet > "$work/files"

desktop-file-validate /usr/share/applications/korvinet.desktop
appstreamcli validate --no-net /usr/share/metainfo/korvinet.metainfo.xml
for f in /usr/share/icons/hicolor/scalable/apps/korvinet.svg \
         /usr/share/icons/hicolor/48x48/apps/korvinet.png \
         /usr/share/icons/hicolor/256x256/apps/korvinet.png \
         "/usr/share/doc/korvinet/Korvinet Instructions.pdf" \
         /usr/share/man/man1/korvinet.1.gz /usr/share/man/man1/korvinet-station.1.gz \
         /usr/lib/udev/rules.d/70-korvinet-ftdi.rules \
         /usr/lib/systemd/system/korvinet-station.service \
         /usr/lib/systemd/system/korvinet-station@.service \
         /usr/share/doc/korvinet/copyright; do
    [ -f "$f" ] || fail "not installed: $f"
done

# The units as installed keep their hardening (3.0 or less; the threshold
# counts tenths).
for unit in korvinet-station.service korvinet-station@.service; do
    systemd-analyze security --offline=yes --threshold=30 "/usr/lib/systemd/system/$unit" \
        > /dev/null || fail "$unit is exposed: systemd-analyze security --offline=yes on it"
done

# The programs as installed, each user-facing run in a home of its own.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
[ "$(env -u DISPLAY -u QT_QPA_PLATFORM korvinet --version)" = "korvinet $version" ] ||
    fail "korvinet --version"
env -u DISPLAY -u QT_QPA_PLATFORM korvinet-station --version | grep -qx "korvinet-station $version" ||
    fail "korvinet-station --version"
KORVINET_DRIVER=simulator timeout 60 korvinet-station --count 2 > "$work/station.out"
[ "$(wc -l < "$work/station.out")" -eq 2 ] || fail "korvinet-station --count 2 printed: $(cat "$work/station.out")"

# The window appears on an X display within a few seconds.
cat > "$work/window.sh" <<'SH'
KORVINET_DRIVER=simulator korvinet &
pid=$!
for _ in $(seq 1 100); do
    if xwininfo -root -tree | grep -q '"Korvinet - Quorsa Technologies'; then
        kill "$pid"; wait "$pid" 2>/dev/null; exit 0
    fi
    sleep 0.1
done
kill "$pid" 2>/dev/null; exit 1
SH
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/window.sh" ||
    fail "the main window did not appear"

"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq korvinet
if dpkg-query -W -f='${db:Status-Status}\n' korvinet 2>/dev/null | grep -qvx 'not-installed'; then
    fail "package still registered"
fi
while IFS= read -r f; do
    if [ -e "$f" ] && [ ! -d "$f" ]; then fail "left behind: $f"; fi
done < "$work/files"
[ ! -e /usr/share/doc/korvinet ] || fail "left behind: /usr/share/doc/korvinet"
echo "package test passed: $deb"
