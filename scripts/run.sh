#!/usr/bin/env bash
# Installs what is missing, builds Korvinet and starts it with simulated
# counters as its device backend, so everything can be tried without hardware.
#   scripts/run.sh
# Environment (all optional):
#   KORVINET_SIM_DEVICES  number of simulated counters attached (default 1)
#   KORVINET_SIM_CPM      their background counts per minute (default 30);
#                         a minute of raised rate comes every 1-4 minutes
#   KORVINET_SIM_KIND     text-line, pulse-byte, rad-pro, gmc-300 or gmc-500:
#                         serial counters of that kind, each on a
#                         pseudo-terminal, instead of FTDI counters
#   KORVINET_SIM_CLOCK_OFFSET_S, KORVINET_SIM_MEMORY_S, KORVINET_SIM_LOG_S
#                         the clock and memory of simulated Rad Pro and GMC
#                         counters (README, "Serial counters")
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target korvinet

# Without a desktop session (a bare server or container), fall back to a
# virtual X display so the window can still open.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting Korvinet on a virtual X display (xvfb-run)."
    exec env KORVINET_DRIVER=simulator xvfb-run -a build/src/app/korvinet
fi
exec env KORVINET_DRIVER=simulator build/src/app/korvinet
