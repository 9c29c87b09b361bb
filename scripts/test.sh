#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the Windows cross build
# with its unit and integration tests under wine, the debug build with all
# labels (unit, integration, lab, gui; the lab compares the Windows program with
# it), then the unit and integration tests under AddressSanitizer +
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and last the Debian
# packages and their check (the split, the install scripts, lintian).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs="$(nproc)"

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "=== $preset: tests"
  ctest --preset "$preset" -j"$jobs" --timeout 600
}

# The Windows build first: the debug build's lab tests run it under wine.
run_preset windows
run_preset debug
run_preset asan
run_preset tsan
echo "=== package: build and check"
scripts/package.sh
tests/package/check.sh
echo "=== all test runs passed"
