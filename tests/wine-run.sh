#!/usr/bin/env bash
# Runs one Windows program under the 64-bit Wine loader, in a fresh copy of a prepared prefix
# and on an X display of its own, then removes both. Exits with the program's exit code.
#   tests/wine-run.sh PROGRAM.exe [ARGUMENTS...]
# QELPAD_WINE_TEMPLATE  the prepared prefix (default: wine-template beside the program; made on first use)
# QELPAD_DISPLAY        use this X display instead of starting Xvfb
# QELPAD_KEEP_PREFIX    a folder to keep the used prefix in, for a look afterwards
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1
shift
template=${QELPAD_WINE_TEMPLATE:-$(cd "$(dirname "$program")" && pwd)/wine-template}

# The template is made once; concurrent runs wait for it.
(
  flock 9
  [ -f "$template/system.reg" ] || "$here/prepare-prefix.sh" "$template"
) 9>"$template.lock" || { echo "wine-run: could not prepare $template" >&2; exit 125; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-run.XXXXXX")
prefix=$scratch/prefix
xvfb_pid=
cleanup() {
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [ -n "${QELPAD_KEEP_PREFIX:-}" ]; then rm -rf "$QELPAD_KEEP_PREFIX"; mv "$prefix" "$QELPAD_KEEP_PREFIX"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The prefix: registry files copied, the drive linked (tests only add and delete files, never rewrite them).
mkdir -p "$prefix"
find "$template" -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$prefix/" \;
cp -al "$template/drive_c" "$prefix/drive_c"

if [ -n "${QELPAD_DISPLAY:-}" ]; then
  export DISPLAY=$QELPAD_DISPLAY
else
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
  [ -s "$scratch/display" ] || { echo "wine-run: Xvfb did not start" >&2; exit 125; }
  export DISPLAY=:$(head -n1 "$scratch/display")
fi

export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
/usr/lib/wine/wine64 "$program" "$@" &
wait $!
