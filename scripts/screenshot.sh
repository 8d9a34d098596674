#!/usr/bin/env bash
# Takes the guide's picture of the main window programming a chip:
# docs/images/main-window.png (or the PNG named as the first argument).
#
# Builds the window preview (tests/ui/preview/ui_preview.cpp, the real main
# window on a chosen port) if needed, starts it under Xvfb against the
# simulated cable with an AT89S52 at the speed of real hardware, loads
# examples/selftest_8k.hex, ticks Lock Bit 2 and clicks AUTO-PROGRAM. Once the
# operation log says "Programming...", it waits SHOT_DELAY seconds (2 unless
# set: the bar then stands a third to half of the way) and takes the window
# alone.
#
#   ./scripts/screenshot.sh
#   SHOT_DELAY=0.5 ./scripts/screenshot.sh /tmp/early.png
#
# Installs what is missing with apt-get: the build's packages, and for the
# picture ImageMagick (import) and x11-utils (xwininfo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${1:-docs/images/main-window.png}
case $out in /*) ;; *) out=$root/$out ;; esac
delay=${SHOT_DELAY:-2}
port=${QVX_PORT:-sim:AT89S52,timing=realistic,iodelay}

. scripts/packages.sh
QVX_PACKAGES+=(imagemagick x11-utils)
install_missing_packages

[ -f build/CMakeCache.txt ] || cmake --preset default
cmake --build --preset default -j 2 --target ui_preview

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/runtime" "$(dirname "$out")"
chmod 700 "$work/runtime"

# Runs inside the X server that xvfb-run starts: the window, the wait for
# the programming step, the picture.
cat >"$work/shoot.sh" <<'EOF'
set -euo pipefail
work=$1 out=$2 delay=$3 port=$4
build/tests/ui_preview --port "$port" --device 1 --lock 2 \
    --load examples/selftest_8k.hex --auto 2>"$work/log" &
preview=$!
for _ in $(seq 600); do
    grep -q 'Programming\.\.\.' "$work/log" && break
    kill -0 $preview 2>/dev/null || break
    sleep 0.1
done
if ! grep -q 'Programming\.\.\.' "$work/log"; then
    echo "the window did not start programming; its log:" >&2
    cat "$work/log" >&2
    kill $preview 2>/dev/null || true
    exit 1
fi
sleep "$delay"
window=$(xwininfo -root -tree | awk '/"QVX-ISP  V/ { print $1; exit }')
[ -n "$window" ] || { echo "no main window on the screen" >&2; kill $preview; exit 1; }
import -window "$window" "$out"
kill $preview
wait $preview 2>/dev/null || true
echo "operation log until the picture:"
cat "$work/log"
EOF

XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s '-screen 0 1280x1024x24' bash "$work/shoot.sh" "$work" "$out" "$delay" "$port"
echo "wrote $out: $(identify -format '%w x %h' "$out")"
