#!/usr/bin/env bash
# Builds both presets with warnings as errors and runs every test; exits non-zero on any failure.
# The last lines are CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
for preset in win32 win64; do
  cmake --preset "$preset" -DQELPAD_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build --preset "$preset" -j2
done
# Two more clean builds of each preset, elsewhere, must give the same bytes.
tests/reproducible.sh
# Every test case runs in its own Wine prefix on its own X display, so two can run at once.
ctest --preset win64 -j2
