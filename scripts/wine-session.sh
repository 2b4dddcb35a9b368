#!/usr/bin/env bash
# Inside the Wine root (started by scripts/wine-sandbox.sh): an X display and one wineserver for
# the whole command, both ended when it ends. Exits with the command's exit code.
#   wine-session.sh COMMAND [ARGUMENTS...]
set -uo pipefail

xvfb_pid=
if [ -z "${QELPAD_HOST_DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/display >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do [ -s /tmp/display ] && break; sleep 0.05; done
  [ -s /tmp/display ] || { echo "wine-session: Xvfb did not start" >&2; exit 125; }
  export DISPLAY=:$(head -n1 /tmp/display)
fi

# QELPAD_SCREEN_DPI: the screen's scale in dots per inch (96 unless set). Wine 10 reads a monitor's
# DPI once, when the session's desktop starts, so the setting is made first and the session restarted.
if [ -n "${QELPAD_SCREEN_DPI:-}" ]; then
  for key in 'HKCC\Software\Fonts' 'HKCU\Control Panel\Desktop'; do
    /usr/lib/wine/wine64 reg add "$key" /v LogPixels /t REG_DWORD /d "$QELPAD_SCREEN_DPI" /f >/dev/null ||
      { echo "wine-session: could not set the DPI" >&2; exit 125; }
  done
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wineserver -p
"$@"
status=$?
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w 2>/dev/null
[ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
exit $status
