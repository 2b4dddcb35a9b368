#!/usr/bin/env bash
# Builds the release preset with its tests, warnings as errors, and runs every test; exits non-zero
# on any failure. The last lines are CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset win32 -DQELPAD_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset win32 -j2
# The Wine root the tests run in: made once, kept in a cache folder outside the checkout.
scripts/wine-root.sh >/dev/null
# Two more clean builds elsewhere must give the same bytes, and the same as the exe the tests run.
tests/reproducible.sh build/win32/Qelpad80Remover.exe
# Every test case runs in its own Wine prefix on its own X display, so two can run at once.
ctest --preset win32 -j2
