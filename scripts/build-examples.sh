#!/usr/bin/env bash
# Rebuilds the Intel HEX files in examples/ from their C sources with SDCC.
# The HEX files are committed, so running the programmer needs no SDCC; run
# this after changing a source (or `cmake --build --preset default --target
# examples`). Needs the Debian packages sdcc and sdcc-libraries.
set -euo pipefail
cd "$(dirname "$0")/../examples"

command -v sdcc >/dev/null || { echo "sdcc is not installed (apt-get install sdcc)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build NAME SOURCE CODE-SIZE [extra sdcc options...]
build() {
    local name=$1 source=$2 size=$3
    shift 3
    sdcc -mmcs51 --code-size "$size" --iram-size 128 --std-sdcc99 "$@" \
        -o "$work/$name.ihx" "$source" >"$work/$name.log" 2>&1 || {
        cat "$work/$name.log" >&2
        exit 1
    }
    packihx "$work/$name.ihx" >"$name.hex" 2>/dev/null
    echo "$name.hex: $(grep -c '^:' "$name.hex") records"
}

build blink blink.c 2048
build uart_echo uart_echo.c 2048
build selftest_2k selftest.c 2048 -DMEMORY_KB=2
build selftest_4k selftest.c 4096 -DMEMORY_KB=4
build selftest_8k selftest.c 8192 -DMEMORY_KB=8
build selftest_12k selftest.c 12288 -DMEMORY_KB=12
