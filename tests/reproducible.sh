#!/usr/bin/env bash
# Builds Qelpad80Remover.exe twice from the same sources, for both presets, in two folders of
# different names and one after the other, and compares the exes byte for byte. Exits non-zero
# when they differ or when either names a folder it was built in.
#   tests/reproducible.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The sources as they stand: tracked and new files, without what git ignores (build/).
copy_sources() {
  mkdir -p "$1"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$root" && while IFS= read -r -d '' file; do
      [ -f "$file" ] && cp --parents -- "$file" "$1/"
    done)
}

build() {  # SOURCE-FOLDER PRESET BUILD-FOLDER
  (cd "$1" && cmake --preset "$2" -B "$3" -DQELPAD_TESTS=OFF >"$3.log" 2>&1 &&
    cmake --build "$3" -j2 --target Qelpad80Remover >>"$3.log" 2>&1) ||
    { echo "reproducible: the $2 build in $1 failed:" >&2; tail -n 30 "$3.log" >&2; exit 1; }
}

first=$work/first/src
second=$work/second-build-elsewhere/qelpad-sources
copy_sources "$first"
copy_sources "$second"

failed=0
for preset in win32 win64; do
  build "$first" "$preset" "$work/first/$preset"
  build "$second" "$preset" "$work/second-build-elsewhere/out-$preset"
  a=$work/first/$preset/Qelpad80Remover.exe
  b=$work/second-build-elsewhere/out-$preset/Qelpad80Remover.exe
  if cmp -s "$a" "$b"; then
    echo "reproducible: $preset identical ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
  else
    echo "reproducible: $preset DIFFERS: $(stat -c %s "$a") and $(stat -c %s "$b") bytes; first differences:" >&2
    cmp -l "$a" "$b" | head -n 10 >&2 || true
    failed=1
  fi
  for exe in "$a" "$b"; do
    if grep -a -q -F "$work" "$exe"; then
      echo "reproducible: $exe names the folder it was built in" >&2
      failed=1
    fi
  done
done
exit "$failed"
