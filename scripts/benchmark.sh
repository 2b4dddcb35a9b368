#!/usr/bin/env bash
# The benchmark: start-up, idle memory and removal of the tool against Wine's notepad.exe and a batch
# file, side by side in one Wine session, then the size of the release exe. Not part of the tests.
#   scripts/benchmark.sh [ROUNDS]
# QELPAD_BENCH_WIN64 / QELPAD_BENCH_WIN32  build folders to use (default build/win64, build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
win64=$(realpath -m "${QELPAD_BENCH_WIN64:-$root/build/win64}")
win32=$(realpath -m "${QELPAD_BENCH_WIN32:-$root/build/win32}")

"$root/scripts/install-deps.sh"
cd "$root"
# The 64-bit build runs under the 64-bit Wine loader; the 32-bit one is the release, measured by size.
cmake --preset win64 -B "$win64" >/dev/null
cmake --build "$win64" -j2 --target Qelpad80Remover bench_driver >/dev/null
cmake --preset win32 -B "$win32" >/dev/null
cmake --build "$win32" -j2 --target Qelpad80Remover >/dev/null

echo "benchmark: $rounds rounds under $(/usr/lib/wine/wine64 --version), $(nproc) cores"
tool="Z:${win64//\//\\}\\Qelpad80Remover.exe"
"$root/tests/wine-run.sh" "$win64/bench_driver.exe" "$tool" "$rounds"

size=$(stat -c %s "$win32/Qelpad80Remover.exe")
goal=$((200 * 1024))
verdict=met
[ "$size" -le "$goal" ] || verdict=MISSED
awk -v size="$size" -v other="$(stat -c %s "$win64/Qelpad80Remover.exe")" -v verdict="$verdict" 'BEGIN {
  printf "%-20s win32 %.1f KiB (%d bytes), win64 %.1f KiB  goal <= 200 KiB  %s\n",
    "release exe size", size / 1024, size, other / 1024, verdict }'
