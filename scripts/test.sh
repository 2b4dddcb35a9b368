#!/usr/bin/env bash
# Builds the win32 preset (the release with its tests, warnings as errors) and runs every test with
# CTest, the checks of the release among them (ctest -L release); exits non-zero on any failure. The
# last lines are CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2
# The Wine root the tests run in: made once, kept in a cache folder outside the checkout.
scripts/wine-root.sh >/dev/null
# Every test case runs in its own Wine prefix on its own X display, so two can run at once. Where
# Wine runs in an emulated virtual machine, each gets one processor of this machine.
if scripts/wine-run.sh --runs-32bit-code; then
  ctest --preset win32 -j2
else
  echo "test: this machine cannot run 32-bit code; Wine runs in a virtual machine that qemu emulates (slower)"
  QELPAD_VM_CPUS=1 ctest --preset win32 -j2
fi
