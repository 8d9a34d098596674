#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it, in the
# repository's root folder, which holds the shipped CONFIG.QVX.
#
# Without QVX_PORT set it runs against the simulated cable with an AT89S8252
# on it, at the speed of real hardware. Set QVX_PORT to choose another
# simulated chip or the real parallel port, e.g.
#   QVX_PORT=sim:AT89S2051,timing=realistic,iodelay ./scripts/run.sh
#   QVX_PORT=ppdev ./scripts/run.sh
# Works on a fresh Debian machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/packages.sh
install_missing_packages

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset default
cmake --build --preset default -j "$jobs" --target qvx-isp

export QVX_PORT="${QVX_PORT-sim:AT89S8252,timing=realistic,iodelay}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display to show the window on. Without a desktop, try: xvfb-run -a ./scripts/run.sh" >&2
    exit 1
fi
echo "QVX_PORT=$QVX_PORT"
exec "$root/build/ui/qvx-isp" "$@"
