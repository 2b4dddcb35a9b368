#!/usr/bin/env bash
# Builds the release (Qelpad80Remover.exe and Qelpad80RemoverCli.exe) twice from the same sources, in two
# folders of different names and one after the other, and compares the exes byte for byte; when given the
# folder of the exes the tests run, they must be the same bytes too. Exits non-zero when they differ or
# when any names a folder it was built in.
#   tests/release/reproducible.sh [TESTED_BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tested=${1:+$(realpath "$1")}
exes=(Qelpad80Remover.exe Qelpad80RemoverCli.exe)
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

build() {  # SOURCE-FOLDER BUILD-FOLDER
  (cd "$1" && cmake --preset release -B "$2" >"$2.log" 2>&1 &&
    cmake --build "$2" -j2 --target "${exes[@]%.exe}" >>"$2.log" 2>&1) ||
    { echo "reproducible: the build in $1 failed:" >&2; tail -n 30 "$2.log" >&2; exit 1; }
}

first=$work/first/src
second=$work/second-build-elsewhere/qelpad-sources
copy_sources "$first"
copy_sources "$second"
build "$first" "$work/first/win32"
build "$second" "$work/second-build-elsewhere/out-win32"

failed=0
for exe in "${exes[@]}"; do
  a=$work/first/win32/$exe
  for other in "$work/second-build-elsewhere/out-win32/$exe" ${tested:+"$tested/$exe"}; do
    if cmp -s "$a" "$other"; then
      echo "reproducible: $other identical ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
    else
      echo "reproducible: $other DIFFERS from a clean build: $(stat -c %s "$a") and $(stat -c %s "$other") bytes; first differences:" >&2
      cmp -l "$a" "$other" | head -n 10 >&2 || true
      failed=1
    fi
  done
  for built in "$a" "$work/second-build-elsewhere/out-win32/$exe"; do
    if grep -a -q -F "$work" "$built"; then
      echo "reproducible: $built names the folder it was built in" >&2
      failed=1
    fi
  done
done
exit "$failed"
