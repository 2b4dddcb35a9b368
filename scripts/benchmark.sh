#!/usr/bin/env bash
# The benchmark: start-up, idle memory and removal of the release exe against the 32-bit notepad.exe
# and a batch file, side by side in one Wine session (the Wine root, WoW64), then the size of the
# release exe. Not part of the tests.
#   scripts/benchmark.sh [ROUNDS]
# QELPAD_BENCH_BUILD  build folder to use (default build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
build=$(realpath -m "${QELPAD_BENCH_BUILD:-$root/build/win32}")

"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" -j2 --target Qelpad80Remover bench_driver >/dev/null

echo "benchmark: $rounds rounds, the 32-bit release under WoW64, $(nproc) cores"
tool="Z:${build//\//\\}\\Qelpad80Remover.exe"
"$root/scripts/wine-run.sh" "$build/bench_driver.exe" "$tool" "$rounds"

size=$(stat -c %s "$build/Qelpad80Remover.exe")
goal=$((200 * 1024))
verdict=met
[ "$size" -le "$goal" ] || verdict=MISSED
awk -v size="$size" -v verdict="$verdict" 'BEGIN {
  printf "%-20s %.1f KiB (%d bytes)  goal <= 200 KiB  %s\n", "release exe size", size / 1024, size, verdict }'
