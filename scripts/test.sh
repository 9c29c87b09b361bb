#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the Windows cross build
# with its unit and integration tests under wine, the Windows release artefacts
# as the README tells users to make them (the MSI, checked from its tables, and
# the zip), the debug build with all
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
echo "=== windows-release: the installer and the zip"
cmake --preset windows-release >/dev/null
cmake --build --preset windows-release -j"$jobs"
cpack --preset windows-release >/dev/null
version=$(sed -n 's/^set(QUILLON_FILE_VERSION "\(.*\)")$/\1/p' CMakeLists.txt)
for artefact in msi zip; do
  [[ -s build/windows-release/quillon-$version-win64.$artefact ]] ||
    { echo "no quillon-$version-win64.$artefact in build/windows-release" >&2; exit 1; }
done
tests/package/check-msi.sh "build/windows-release/quillon-$version-win64.msi" "$version"
run_preset debug
run_preset asan
run_preset tsan
echo "=== package: build and check"
scripts/package.sh
tests/package/check.sh
echo "=== all test runs passed"
