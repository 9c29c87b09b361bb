#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one for a set
# time over its seed corpus (default 60 s each: scripts/fuzz.sh 300 for longer).
# New inputs go to a scratch corpus; a crash leaves its input under
# build/fuzz/artifacts/ — keep it in tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
mkdir -p build/fuzz/artifacts build/fuzz/scratch
status=0
for exe in build/fuzz/tests/fuzz/fuzz_*; do
  name=$(basename "$exe"); target=${name#fuzz_}
  scratch=build/fuzz/scratch/$target
  mkdir -p "$scratch"
  echo "=== $name for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -max_len=12000 -artifact_prefix=build/fuzz/artifacts/"$target"- \
      "$scratch" "tests/fuzz/corpus/$target" 2> "build/fuzz/$target.log"; then
    echo "!!! $name failed; see build/fuzz/$target.log"; tail -30 "build/fuzz/$target.log"; status=1
  else
    tail -1 "build/fuzz/$target.log"
  fi
done
exit $status
