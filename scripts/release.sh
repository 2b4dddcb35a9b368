#!/usr/bin/env bash
# The release: the win32 preset built from scratch in a folder of its own, checked, and put with its
# SHA256SUMS into build/release/ (or the folder given).
#   scripts/release.sh [OUTPUT_FOLDER]
# The build is reproducible (tests/reproducible.sh), so anyone can rebuild the commit and compare.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
output=$(realpath -m "${1:-$root/build/release}")

"$root/scripts/install-deps.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-release.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cd "$root"
cmake --preset win32 -B "$scratch/win32" >"$scratch/build.log" 2>&1 &&
  cmake --build "$scratch/win32" -j2 --target Qelpad80Remover >>"$scratch/build.log" 2>&1 ||
  { tail -n 30 "$scratch/build.log" >&2; echo "release: the build failed" >&2; exit 1; }
/usr/bin/python3 tests/check_pe.py "i386=$scratch/win32/Qelpad80Remover.exe"

mkdir -p "$output"
rm -f "$output/Qelpad80Remover.exe" "$output/SHA256SUMS"
cp "$scratch/win32/Qelpad80Remover.exe" "$output/"
(cd "$output" && sha256sum Qelpad80Remover.exe >SHA256SUMS)
echo "release: $output/Qelpad80Remover.exe ($(stat -c %s "$output/Qelpad80Remover.exe") bytes)"
cat "$output/SHA256SUMS"
