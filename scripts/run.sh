#!/usr/bin/env bash
# Builds the tool and runs it under Wine, in a throwaway prefix seeded with a sample
# installation of the control, so that Delete shows a real removal.
# With a display you see and use the window yourself. Without one the removal is driven
# under Xvfb: screenshots of the window and of each message box land in build/screenshots/.
# Either way it prints which of the control's files and keys were there before and after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target Qelpad80Remover removal_demo >/dev/null

build=$root/build/win64
template=$build/wine-template
(flock 9; [ -f "$template/system.reg" ] || tests/prepare-prefix.sh "$template") 9>"$template.lock"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-try.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
find "$template" -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$WINEPREFIX/" \;
cp -a "$template/drive_c" "$WINEPREFIX/drive_c"

interactive=no
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  interactive=yes
else
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
  export DISPLAY=:$(head -n1 "$scratch/display")
fi

wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -p  # one server for the whole run
"$wine" "$build/removal_demo.exe" seed
echo "A sample installation of the control, before the removal:"
"$wine" "$build/removal_demo.exe" report || true

if [ "$interactive" = yes ]; then
  # On a real desktop the window manager frames and moves the window (the tests turn that off).
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
  echo "The tool is open on $DISPLAY: read the notice, press 【删除】 and confirm."
  "$wine" "$build/Qelpad80Remover.exe" || true
  status=0
else
  shots=$root/build/screenshots
  rm -rf "$shots" && mkdir -p "$shots"
  echo "No display: driving the removal under Xvfb."
  status=0
  "$wine" "$build/removal_demo.exe" drive "Z:${shots//\//\\}" || status=$?
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  echo "Screenshots of the window and of each message box: $shots/"
  ls "$shots"
fi

echo "After:"
if "$wine" "$build/removal_demo.exe" report; then
  echo "Nothing of the control is left."
else
  echo "Parts of the control are still there (see above)."
fi
exit $status
