#!/bin/bash
# Runs a program in a Wine session of its own (scripts/wine/session.sh) in the Wine root, entered
# with bwrap where this machine runs 32-bit code: the root as /, the bound folders at their own
# paths, new PID, IPC and network namespaces. When the session ends, or this script is killed,
# every process of it ends and nothing stays mounted.
#   sandbox.sh ROOT [--bind DIR]... [--host-display] [--layer-over TEMPLATE SCRATCH] -- PROGRAM|COMMAND [ARGUMENTS...]
# --layer-over  the prefix ($WINEPREFIX, in SCRATCH) is a fresh layer over TEMPLATE, mounted in a
#               mount namespace of its own (as root, or as the root of a user namespace) that bwrap
#               then enters, so that the template stays as it is. Without it, $WINEPREFIX as it is.
# --host-display  this machine's $DISPLAY instead of a private Xvfb.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$1
shift
mounts=() network=(--unshare-net) template= scratch=
while [ $# -gt 0 ]; do
  case $1 in
    --bind) mounts+=(--bind "$2" "$2"); shift 2 ;;
    --host-display)
      network=()
      [ -d /tmp/.X11-unix ] && mounts+=(--bind /tmp/.X11-unix /tmp/.X11-unix)
      [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && mounts+=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
      export QELPAD_HOST_DISPLAY=1
      shift ;;
    --layer-over) template=$2 scratch=$3; shift 3 ;;
    --) shift; break ;;
  esac
done

bwrap=(bwrap --bind "$root" / --proc /proc --dev /dev --tmpfs /tmp --tmpfs /run "${mounts[@]}"
  --bind "$here" "$here" "${network[@]}" --unshare-pid --unshare-ipc --die-with-parent --
  /bin/bash "$here/session.sh" "$@")
[ -n "$template" ] || exec "${bwrap[@]}"

as_root=()
[ "$(id -u)" = 0 ] || as_root=(--map-root-user)
exec setpriv --pdeathsig KILL -- unshare --mount "${as_root[@]}" /bin/sh -c '
  mkdir -p "$1/upper" "$1/work" "$WINEPREFIX" &&
    mount -t overlay -o "lowerdir=$2,upperdir=$1/upper,workdir=$1/work" prefix "$WINEPREFIX" || exit 125
  shift 2
  "$@"
  status=$?
  [ -z "${QELPAD_KEEP_PREFIX:-}" ] || { rm -rf "$QELPAD_KEEP_PREFIX" && cp -a "$WINEPREFIX" "$QELPAD_KEEP_PREFIX"; }
  exit $status' sh "$scratch" "$template" "${bwrap[@]}"
