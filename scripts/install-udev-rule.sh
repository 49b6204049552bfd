#!/usr/bin/env bash
# Installs the udev rule that lets the logged-in user open the USB
# counters (FTDI bridges, and the serial ports of the bridges other counters
# use), and applies it to devices already plugged in. Run as root (or
# with sudo available). Unplugging and replugging the counter also works.
set -euo pipefail
cd "$(dirname "$0")"

rule=udev/70-korvinet-ftdi.rules
target=/etc/udev/rules.d/70-korvinet-ftdi.rules

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

"${sudo_cmd[@]}" install -m 0644 "$rule" "$target"
if command -v udevadm >/dev/null; then
    "${sudo_cmd[@]}" udevadm control --reload-rules
    "${sudo_cmd[@]}" udevadm trigger --subsystem-match=usb --attr-match=idVendor=0403
    "${sudo_cmd[@]}" udevadm trigger --subsystem-match=tty
fi
echo "Installed $target"
