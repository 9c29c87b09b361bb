#!/usr/bin/env bash
# The main job: install what is missing, build a release Quillon and trace the
# host given (localhost when none is). A window opens when a display is there,
# the terminal shows the trace otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target quillon
if [ $# -eq 0 ]; then
  set -- localhost
fi
exec build/release/app/quillon "$@"
