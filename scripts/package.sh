#!/usr/bin/env bash
# Builds the Debian packages into build/package/packages/: quillon (the program
# and its manual page, no desktop libraries) and quillon-window (the window
# module, menu entry, icon and help pages). Then tests/package/check.sh shows
# the split.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset package >/dev/null
cmake --build --preset package -j"$(nproc)"
rm -rf build/package/packages
cpack --preset package
ls build/package/packages/*.deb
