#!/usr/bin/env bash
# Runs one Windows program in the Wine root (32-bit programs in WoW64 mode, as on 64-bit Windows),
# in a fresh copy of a prepared prefix and on an X display of its own, then removes the copy.
# Exits with the program's exit code.
#   tests/wine-run.sh PROGRAM.exe [ARGUMENTS...]
# QELPAD_WINE_TEMPLATE  the prepared prefix (default: wine-template beside the program; made on first
#                       use, and again when the Wine root changes)
# QELPAD_KEEP_PREFIX    a folder to keep the used prefix in, for a look afterwards
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
shift
template=${QELPAD_WINE_TEMPLATE:-$(dirname "$program")/wine-template}
template=$(realpath -m "$template")

# Scratch prefixes sit beside the template, on its file system, so the drive can be hard-linked
# (a temporary folder on a tmpfs could not be).
mkdir -p "$template.runs"
scratch=$(mktemp -d "$template.runs/run.XXXXXX")
prefix=$scratch/prefix
cleanup() {
  if [ -n "${QELPAD_KEEP_PREFIX:-}" ]; then rm -rf "$QELPAD_KEEP_PREFIX"; mv "$prefix" "$QELPAD_KEEP_PREFIX"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

"$here/prepare-prefix.sh" "$template" "$prefix" || { echo "wine-run: could not prepare $prefix" >&2; exit 125; }

export WINEPREFIX=$prefix
"$here/../scripts/wine-sandbox.sh" --bind "$(dirname "$program")" --bind "$scratch" -- \
  /usr/lib/wine/wine64 "$program" "$@" &
wait $!
