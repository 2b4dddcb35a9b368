#!/usr/bin/env bash
# The benchmark: start-up of the release exe against its limit (tools/MinimalWindow.cpp) and the 32-bit
# notepad.exe, its idle memory, and its removal and the console companion's against a batch file, side
# by side in one Wine session (the Wine root, WoW64), then the size of the release exe. Not part of the
# tests; its driver is tools/BenchDriver.cpp.
#   scripts/benchmark.sh [ROUNDS] [startup]   (startup: only the tool's start-up against its limit)
# QELPAD_BENCH_BUILD  build folder to use (default build/win32)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-7}
build=$(realpath -m "${QELPAD_BENCH_BUILD:-$root/build/win32}")

"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset win32 -B "$build" >/dev/null
cmake --build "$build" -j2 --target Qelpad80Remover Qelpad80RemoverCli bench_driver >/dev/null

how="under WoW64"
"$root/scripts/wine/runs-32bit-code.py" || how="under WoW64, in the virtual machine qemu emulates"
echo "benchmark: $rounds rounds, the 32-bit release $how, $(nproc) cores"
tool="Z:${build//\//\\}\\Qelpad80Remover.exe"
"$root/scripts/wine-run.sh" "$build/bench_driver.exe" "$tool" "$rounds" ${2:+"$2"}

size=$(stat -c %s "$build/Qelpad80Remover.exe")
goal=$((200 * 1024))
verdict=met
[ "$size" -le "$goal" ] || verdict=MISSED
awk -v size="$size" -v verdict="$verdict" 'BEGIN {
  printf "%-20s %.1f KiB (%d bytes)  goal <= 200 KiB  %s\n", "release exe size", size / 1024, size, verdict }'
