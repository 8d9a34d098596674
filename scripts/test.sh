#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build and
# the AddressSanitizer/UBSan build. Run from anywhere; works on a fresh Debian.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing_packages

jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
