#!/usr/bin/env bash
# Runs a command inside the Wine root (scripts/wine-root.sh makes it on first use), in a session of
# its own: an X display, one wineserver for the whole command, and nothing left running afterwards.
#   scripts/wine-sandbox.sh [--bind DIR]... [--host-display] [--] COMMAND [ARGUMENTS...]
# The checkout is visible inside at its own path, and so is every --bind DIR; the rest of the
# machine is not. Set WINEPREFIX (in a visible folder) before calling.
# --host-display  show windows on this machine's $DISPLAY instead of a private Xvfb.
#
# The session lives in its own PID namespace: when the command ends, or this script is killed,
# every process in it (Xvfb, wineserver, the programs) ends with it. bwrap's mounts belong to
# that namespace too, so nothing stays mounted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/.." && pwd)

binds=(--bind "$checkout" "$checkout")
network=(--unshare-net)
while [ $# -gt 0 ]; do
  case $1 in
    --bind) dir=$(realpath -m "$2"); binds+=(--bind "$dir" "$dir"); shift 2 ;;
    --host-display)
      # The display's socket (an abstract one needs the machine's network namespace) and its cookie.
      network=()
      [ -d /tmp/.X11-unix ] && binds+=(--bind /tmp/.X11-unix /tmp/.X11-unix)
      [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && binds+=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
      export QELPAD_HOST_DISPLAY=1
      shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--bind DIR]... [--host-display] [--] COMMAND [ARGUMENTS...]" >&2; exit 2; }

root=$("$here/wine-root.sh")
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec bwrap --bind "$root" / --proc /proc --dev /dev --tmpfs /tmp --tmpfs /run \
  "${binds[@]}" "${network[@]}" --unshare-pid --unshare-ipc --die-with-parent \
  -- /bin/bash "$here/wine-session.sh" "$@"
