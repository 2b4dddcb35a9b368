#!/usr/bin/env bash
# Builds the release exe and runs it in the Wine root under WoW64, as on 64-bit Windows, in a
# throwaway prefix seeded with a sample installation of the control where a 32-bit browser puts it
# (SysWOW64, the 32-bit registry views), beside a 64-bit copy that the tool must leave alone.
# With a display you see and use the window yourself. Without one the removal is driven
# under Xvfb: screenshots of the window and of each message box land in build/screenshots/.
# Either way it prints which files and keys were there before and after, in both views.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
wine=/usr/lib/wine/wine64

if [ "${1:-}" = --inside ]; then
  # In the Wine root (scripts/wine-run.sh, below); $WINEPREFIX is the throwaway prefix.
  demo=$build/removal_demo.exe
  "$wine" "$demo" seed
  echo "Before the removal:"
  "$wine" "$demo" report || true
  status=0
  if [ -n "${QELPAD_HOST_DISPLAY:-}" ]; then
    # On a real desktop the window manager frames and moves the window (the tests turn that off).
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
    echo "The tool is open on $DISPLAY: read the notice, press 【删除】 and confirm."
    "$wine" "$build/Qelpad80Remover.exe" || true
  else
    echo "No display: driving the removal under Xvfb."
    "$wine" "$demo" drive "Z:${2//\//\\}" || status=$?
  fi
  echo "After:"
  report=0
  "$wine" "$demo" report || report=$?
  [ $((report & 1)) -eq 0 ] && echo "Nothing of the 32-bit installation is left." ||
    echo "Parts of the 32-bit installation are still there (see above)."
  [ $((report & 2)) -eq 0 ] && echo "The 64-bit copy is untouched." || { echo "The 64-bit copy was touched!"; status=1; }
  exit $status
fi

cd "$root"
scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target Qelpad80Remover removal_demo >/dev/null

shots=$root/build/screenshots
display=()
if [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null && xdpyinfo >/dev/null 2>&1; then
  display=(--host-display)
fi
rm -rf "$shots" && mkdir -p "$shots"
status=0
# A fresh copy of the prepared prefix, in which the inside part below seeds, runs and reports; in the
# Chinese locale the tool is made for, so that the message boxes' buttons read 确定 and 取消.
QELPAD_LOCALE=zh_CN.UTF-8 scripts/wine-run.sh "${display[@]}" --bind "$shots" -- \
  /bin/bash "$root/scripts/run.sh" --inside "$shots" || status=$?

if [ -n "$(ls "$shots")" ]; then
  for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  echo "Screenshots of the window and of each message box: $shots/"
  ls "$shots"
fi
exit $status
