#!/usr/bin/env bash
# Builds the release (Qelpad80Remover.exe and Qelpad80RemoverCli.exe) from a clean copy of the sources
# and compares the exes byte for byte with another build in a folder of another name: the folder of the
# exes the tests run when it is given (built from the checkout itself), else a second clean copy built
# after the first. Exits non-zero when they differ or when one names a folder it was built in.
# Then the first copy becomes a git repository of its own and scripts/release.sh there releases its build:
# BUILDINFO names the commit, the version and the tools; a tree with changes is refused and nothing written,
# and with --allow-changes the release goes on and says so.
#   tests/release/reproducible.sh [TESTED_BUILD_FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tested=${1:+$(realpath "$1")}
exes=(Qelpad80Remover.exe Qelpad80RemoverCli.exe)
work=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
check_label=reproducible
source "$(dirname "$0")/check.sh"

# The sources as they stand: tracked and new files, without what git ignores (build/).
copy_sources() {
  mkdir -p "$1"
  (cd "$root" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$root" && while IFS= read -r -d '' file; do
      [ -f "$file" ] && cp --parents -- "$file" "$1/"
    done)
}

# At the lowest priority: in the suite it runs beside the emulated machine, whose cases it would
# otherwise slow, and takes the time the machine leaves.
build() {  # SOURCE-FOLDER BUILD-FOLDER
  (cd "$1" && nice -n 19 cmake --preset release -B "$2" >"$2.log" 2>&1 &&
    nice -n 19 cmake --build "$2" -j2 --target "${exes[@]%.exe}" >>"$2.log" 2>&1) ||
    { echo "reproducible: the build in $1 failed:" >&2; tail -n 30 "$2.log" >&2; exit 1; }
}

first=$work/first/src
copy_sources "$first"
build "$first" "$work/first/win32"
# The other build and the folder it must not name. The tests' build differs from a clean one in
# every path (sources, build folder) and was built step by step: a second clean build adds nothing
# to it but half of this check's time, taken from the processors the tests run on.
if [ -n "$tested" ]; then
  other_build=$tested other_sources=$root
else
  other_sources=$work/second-build-elsewhere/qelpad-sources other_build=$work/second-build-elsewhere/out-win32
  copy_sources "$other_sources"
  build "$other_sources" "$other_build"
fi

for exe in "${exes[@]}"; do
  a=$work/first/win32/$exe other=$other_build/$exe
  if cmp -s "$a" "$other"; then
    echo "reproducible: $other identical ($(stat -c %s "$a") bytes, sha256 $(sha256sum "$a" | cut -c1-16)...)"
  else
    echo "reproducible: $other DIFFERS from a clean build: $(stat -c %s "$a") and $(stat -c %s "$other") bytes; first differences:" >&2
    cmp -l "$a" "$other" | head -n 10 >&2 || true
    failed=1
  fi
  for built in "$a:$work" "$other:$other_sources" "$other:$other_build"; do
    if grep -a -q -F "${built#*:}" "${built%%:*}"; then
      echo "reproducible: ${built%%:*} names the folder it was built in (${built#*:})" >&2
      failed=1
    fi
  done
done

# The release of a commit. The real checkout may hold work that is not committed, so the first copy is
# committed into a repository of its own, with a file git ignores beside it (that is not a change).
release() {  # ARGUMENTS...: the copy's scripts/release.sh on its first build, into $work/releases/out
  local status=0
  QELPAD_RELEASE_BUILT=$work/first/win32 "$first/scripts/release.sh" "$@" "$work/releases/out" \
    >"$work/release.log" 2>&1 || status=$?
  cat "$work/release.log"
  return "$status"
}
says() { grep -q -x -F -- "$1" "$2" || { echo "expected the line: $1 (in $2)"; return 1; }; }
releases_state() { (cd "$work/releases" && ls -laR --time-style=+%s.%N && sha256sum out/*) 2>&1 || true; }
(cd "$first" && git init -q && git add -A &&
  GIT_AUTHOR_DATE=2020-01-01T00:00:00Z GIT_COMMITTER_DATE=2020-01-01T00:00:00Z \
    git -c user.name=Test -c user.email=test@example.invalid commit -q -m "The sources under test") >/dev/null
commit=$(git -C "$first" rev-parse HEAD)
mkdir -p "$first/build" "$work/releases" && echo ignored >"$first/build/stray"
version=$(sed -n 's/^project(QelpadRemover VERSION \([0-9.]*\) .*/\1/p' "$first/CMakeLists.txt")
check "the release of a commit is its build; BUILDINFO names the commit, the version and the three tools" \
  eval 'release && cmp "$work/releases/out/${exes[0]}" "$work/first/win32/${exes[0]}" &&
        cmp "$work/releases/out/${exes[1]}" "$work/first/win32/${exes[1]}" &&
        info=$work/releases/out/BUILDINFO && says "commit: $commit" "$info" && says "changes: none" "$info" &&
        says "version: $version" "$info" && [ -n "$version" ] &&
        says "compiler: $(i686-w64-mingw32-g++-posix --version | sed -n 1p)" "$info" &&
        says "binutils: $(i686-w64-mingw32-ld --version | sed -n 1p)" "$info" &&
        says "cmake: $(cmake --version | sed -n 1p)" "$info" && grep -q "^built: not by this release" "$info"'
before=$(releases_state)
unchanged() { [ "$(releases_state)" = "$before" ] || { echo "the releases folder changed:"; releases_state; return 1; }; }
echo "not committed" >"$first/notes.txt"
check "a new file that git does not ignore stops the release, which writes nothing" \
  eval '! release && grep -q -F "?? notes.txt" "$work/release.log" && unchanged'
rm "$first/notes.txt" && echo "# changed" >>"$first/CMakeLists.txt" && git -C "$first" add CMakeLists.txt
check "a staged change stops the release, which writes nothing" \
  eval '! release && grep -q -F "M  CMakeLists.txt" "$work/release.log" && unchanged'
echo "not committed" >"$first/notes.txt"
check "with --allow-changes it goes on, says so, and BUILDINFO names the commit with changes and lists them" \
  eval 'release --allow-changes && grep -q "WITH changes" "$work/release.log" &&
        info=$work/releases/out/BUILDINFO && says "commit: $commit with changes" "$info" &&
        says "  M  CMakeLists.txt" "$info" && says "  ?? notes.txt" "$info" &&
        [ "$(ls -A "$work/releases")" = out ]'
exit "$failed"
