#!/bin/bash
# A Wine session inside the root (in bwrap's namespaces, or in the virtual machine): an X display
# unless none is wanted, one wineserver that stays up, and Windows programs run in it one after
# another.
#   session.sh start                                  makes the session and its first process's set-up
#   session.sh run PROGRAM.exe|COMMAND [ARGUMENTS...]  runs one in it; exits with its exit code
#   session.sh launcher                               starts launcher.exe in it, which starts the
#                                                     session's programs itself (launcher.c)
#   session.sh stop                                   ends the wineserver, every Windows process and the display
#   session.sh PROGRAM.exe|COMMAND [ARGUMENTS...]      the three: one program in a session of its own
# WINEPREFIX              the prefix: a layer over the template, or the template being made
# QELPAD_SESSION_DIR      the session's own scratch folder: its display's number, Xvfb's pid (not
#                         TMPDIR: Wine 10's wineserver crashes at start when TMPDIR is set)
# QELPAD_NO_DISPLAY=1     no X display: windows are made by Wine's null display driver
# QELPAD_HOST_DISPLAY=1   $DISPLAY as it is, instead of a private Xvfb (bwrap only)
# QELPAD_SCREEN_DPI       the screen's scale in dots per inch (96 unless set)
# QELPAD_LOCALE           the locale (LC_ALL), e.g. zh_CN.UTF-8
# QELPAD_DISCARD_PREFIX=1 the prefix is thrown away afterwards
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
dir=${QELPAD_SESSION_DIR:-/tmp}
[ -z "${QELPAD_LOCALE:-}" ] || export LC_ALL=$QELPAD_LOCALE

fail() { echo "wine-run: $*" >&2; exit 125; }

# A .reg file of this folder as regedit reads it (UTF-16 with its mark), imported into the prefix.
import_reg() {  # NAME
  { printf '\xff\xfe'; sed 's/$/\r/' "$here/$1" | iconv -f UTF-8 -t UTF-16LE; } >"$dir/$1"
  "$wine" regedit /S "Z:${dir//\//\\}\\$1"
}

# Sets NAME of the key SECTION (as the registry file names it) to the dword VALUE in FILE of the
# prefix, which no wineserver has loaded yet. The key must be there.
set_dword() {  # FILE SECTION NAME VALUE
  local file=$WINEPREFIX/$1
  section="[$2] " name="\"$3\"=" line=$(printf '"%s"=dword:%08x' "$3" "$4") awk '
    inside && (/^\[/ || index($0, ENVIRON["name"]) == 1) {
      print ENVIRON["line"]; inside = 0; done = 1
      if (!/^\[/) next
    }
    index($0, ENVIRON["section"]) == 1 { inside = 1 }
    { print }
    END { if (inside) print ENVIRON["line"]; exit !(done || inside) }' "$file" >"$file.new" && mv "$file.new" "$file"
}

uses_display() { [ -z "${QELPAD_NO_DISPLAY:-}" ] && [ -z "${QELPAD_HOST_DISPLAY:-}" ]; }
set_display() {
  if [ -n "${QELPAD_NO_DISPLAY:-}" ]; then unset DISPLAY
  elif uses_display; then export DISPLAY=:$(head -n1 "$dir/display"); fi
}

begin() {
  if uses_display; then
    # Xvfb writes its display's number to descriptor 3 once it takes clients: read from a pipe, it
    # is waited for without looking again and again (a start of sleep costs milliseconds emulated).
    local ready=$dir/display.ready number=
    rm -f "$ready" && mkfifo "$ready" || fail "could not make $ready"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
    echo $! >"$dir/xvfb.pid"
    read -r -t 30 number <"$ready"
    rm -f "$ready"
    [ -n "$number" ] || fail "Xvfb did not start"
    echo "$number" >"$dir/display"
  fi
  set_display
  # Wine 10 reads a monitor's DPI once, when the session's desktop starts: it is written into the
  # registry's files before the wineserver loads them (HKCC\Software\Fonts and HKCU\Control
  # Panel\Desktop), which spares a start of Wine to set it and another after.
  if [ -n "${QELPAD_SCREEN_DPI:-}" ]; then
    set_dword system.reg 'System\\ControlSet001\\Hardware Profiles\\Current\\Software\\Fonts' LogPixels \
      "$QELPAD_SCREEN_DPI" && set_dword user.reg 'Control Panel\\Desktop' LogPixels "$QELPAD_SCREEN_DPI" ||
      fail "could not set the DPI"
  fi
  "$wineserver" -p
  # A locale of another code page than the template's: Wine has rewritten the font links, as it
  # does once in a new code page; the session puts them back for the programs it runs.
  case ${LC_ALL:-${LC_CTYPE:-${LANG:-}}} in
    zh_* | ja_* | ko_*) import_reg font-links.reg || fail "could not restore the font links" ;;
  esac
}

# For programs run one after another: the first process of a session starts wineboot, services
# and the desktop (explorer), which then serve every later one. Started here, they belong to the
# session, not to the first program (a program's own processes must end with it). Wine closes the
# desktop a second after its last user has gone, and a new one would start with the next program:
# a process that waits, with a hidden window, keeps it.
start() {
  begin
  "$wine" rundll32.exe user32.dll,GetDesktopWindow || fail "the session's first process failed"
  "$wine" rundll32.exe user32.dll,WaitMessage </dev/null >/dev/null 2>&1 &
}

# The launcher reads its requests from the pipe launch.in of the session's folder and answers on
# launch.out; the dispatcher holds both open. Its own messages go to launcher.log there.
launcher() {
  set_display
  rm -f "$dir/launch.in" "$dir/launch.out" && mkfifo "$dir/launch.in" "$dir/launch.out" ||
    fail "could not make the launcher's pipes"
  "$wine" "$here/launcher.exe" <>"$dir/launch.in" 1<>"$dir/launch.out" 2>"$dir/launcher.log" &
}

run() {  # PROGRAM.exe|COMMAND [ARGUMENTS...]
  set_display
  case $1 in
    *.exe | *.EXE) "$wine" "$@" ;;
    *) "$@" ;;
  esac
}

stop() {
  # A prefix that is thrown away: the wineserver need not write the registry back, which takes
  # seconds emulated.
  local signal=
  [ -z "${QELPAD_DISCARD_PREFIX:-}" ] || signal=9
  "$wineserver" -k$signal 2>/dev/null
  "$wineserver" -w 2>/dev/null
  [ ! -s "$dir/xvfb.pid" ] || kill "$(cat "$dir/xvfb.pid")" 2>/dev/null
  rm -f "$dir/xvfb.pid" "$dir/display"
}

case ${1:-} in
  start | stop | launcher) "$1" ;;
  run) shift; run "$@" ;;
  *)
    begin
    run "$@"
    status=$?
    stop
    exit $status ;;
esac
