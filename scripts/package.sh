#!/usr/bin/env bash
# Builds the Debian package build-package/qvx-isp_<version>_<arch>.deb: the
# programs alone (no tests, no benchmarks), for /usr. Install it with
#   sudo apt install ./build-package/qvx-isp_*.deb
# Works on a fresh Debian machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
install_missing_packages

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset package
cmake --build --preset package -j "$jobs"
rm -f build-package/qvx-isp_*.deb
(cd build-package && cpack -G DEB)
ls -l build-package/qvx-isp_*.deb
