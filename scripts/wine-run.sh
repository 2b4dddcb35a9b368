#!/usr/bin/env bash
# How every Windows program here reaches Wine, in one place. CTest runs each test case as
#   scripts/wine-run.sh build/win32/removal_tests.exe --gtest_filter=Removal.FullRemoval...
# (the toolchain file cmake/i686-w64-mingw32.cmake names this script as the emulator), and the run
# command, the benchmark and the signing test call it the same way. It
#   1. takes the Wine root that scripts/wine-root.sh makes once (Debian 13, Wine 10, WoW64);
#   2. prepares a prefix template once per build folder (booted, unmanaged windows, Chinese fonts)
#      and gives this run a fresh copy of it, so that no two runs see each other's files or keys;
#   3. enters the root: with bwrap, in namespaces of its own; or, on a machine that cannot run
#      32-bit code (some hypervisors lack the 32-bit code segment WoW64 needs), in a virtual machine
#      that qemu emulates, with the root, the checkout and the bound folders shared over 9p;
#   4. there starts an X display and one wineserver, runs the program under Wine (or the command),
#      and ends every process it started. Exits with the program's exit code.
#
#   scripts/wine-run.sh [--bind DIR]... [--host-display] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]
# The checkout and the program's folder are visible inside at their own paths, and so is every
# --bind DIR; the rest of the machine is not. A COMMAND finds the prefix in $WINEPREFIX.
# --host-display  show windows on this machine's $DISPLAY instead of a private Xvfb (bwrap only).
# QELPAD_WINE_TEMPLATE  the prefix template (default: wine-template beside PROGRAM.exe, else in
#                       build/win32); made on first use, and again when the Wine root changes
# QELPAD_KEEP_PREFIX    a folder to keep the used prefix in, for a look afterwards
# QELPAD_SCREEN_DPI     the screen's scale in dots per inch (96 unless set)
# QELPAD_LOCALE         the locale inside (LC_ALL), e.g. zh_CN.UTF-8; the root has it, this machine need not
# QELPAD_WINE_VM        1: always use the virtual machine; 0: never (default: when 32-bit code cannot run)
# QELPAD_VM_CPUS        processors of the virtual machine (default 2; scripts/test.sh gives each of its
#                       two parallel runs 1)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
checkout=$(cd "$here/.." && pwd)
wine=/usr/lib/wine/wine64

# ---- Settings of every prefix -------------------------------------------------------------------

# 宋体 and 新宋体: a Song face with their metrics (12 px cells at 9 pt), so the notice fits as designed.
song_face="AR PL SungtiL GB"
# Captions and message boxes: Chinese glyphs linked behind the system's Latin faces.
link_fonts=("uming.ttc,AR PL UMing CN" "wqy-microhei.ttc,WenQuanYi Micro Hei")

# The links, alone: Wine rewrites them for the code page of a locale it has not run in before
# (a Chinese one among them) with faces that are not installed here.
font_links() {
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
  for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Microsoft Sans Serif"; do
    printf '"%s"=hex(7):%s\r\n' "$face" "$(printf '%s\0' "${link_fonts[@]}" | { cat; printf '\0'; } |
      iconv -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//')"
  done
  printf '\r\n'
}

# A .reg file, as regedit reads it, of what PART (a function here) prints.
write_reg() {  # FILE PART
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n'; "$2"; } |
    iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$1"
}

# Settings every prefix starts with: no window manager runs under Xvfb, so windows are unmanaged
# (else every close waits ~2 s); no crash dialog; the fonts above; and none of the services for
# devices, networks and the event log, which nothing here uses and every session would start.
settings() {
  {
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="Y"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    for service in winebus winehid wineusb winebth nsiproxy PlugPlay Eventlog; do
      printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\%s]\r\n"Start"=dword:00000004\r\n\r\n' "$service"
    done
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for face in "宋体" "新宋体" "SimSun" "NSimSun"; do
      printf '"%s"="%s"\r\n' "$face" "$song_face"
    done
    printf '\r\n'
    font_links
  }
}

# ---- 4. Inside the root: the session --------------------------------------------------------------

if [ "${1:-}" = --session ]; then
  shift
  [ -z "${QELPAD_LOCALE:-}" ] || export LC_ALL=$QELPAD_LOCALE
  xvfb_pid=
  if [ -z "${QELPAD_HOST_DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>/tmp/display >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 600); do [ -s /tmp/display ] && break; sleep 0.05; done
    [ -s /tmp/display ] || { echo "wine-run: Xvfb did not start" >&2; exit 125; }
    export DISPLAY=:$(head -n1 /tmp/display)
  fi
  # Wine 10 reads a monitor's DPI once, when the session's desktop starts: set it, then restart.
  if [ -n "${QELPAD_SCREEN_DPI:-}" ]; then
    for key in 'HKCC\Software\Fonts' 'HKCU\Control Panel\Desktop'; do
      "$wine" reg add "$key" /v LogPixels /t REG_DWORD /d "$QELPAD_SCREEN_DPI" /f >/dev/null ||
        { echo "wine-run: could not set the DPI" >&2; exit 125; }
    done
    /usr/lib/wine/wineserver -k 2>/dev/null
    /usr/lib/wine/wineserver -w
  fi
  /usr/lib/wine/wineserver -p
  # A locale of another code page than the template's: Wine has rewritten the font links, as it
  # does once in a new code page; the session puts the links back for the programs it runs.
  case ${LC_ALL:-${LC_CTYPE:-${LANG:-}}} in
    zh_* | ja_* | ko_*)
      write_reg /tmp/font-links.reg font_links
      "$wine" regedit /S 'Z:\tmp\font-links.reg' || { echo "wine-run: could not restore the font links" >&2; exit 125; } ;;
  esac
  case $1 in
    *.exe | *.EXE) "$wine" "$@" ;;
    *) "$@" ;;
  esac
  status=$?
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
  exit $status
fi

# ---- 3. Entering the root -----------------------------------------------------------------------

# True when this machine runs 32-bit x86 code: a far return into the 32-bit user code segment
# (0x23) and a far jump back, in a child process that a fault simply ends.
runs_32bit_code() {
  # The subshell waits for python itself, so a crash is reported to its silenced stderr.
  (/usr/bin/python3 - <<'EOF'
import ctypes, mmap
libc = ctypes.CDLL(None)
libc.mmap.restype = ctypes.c_void_p
libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
page = libc.mmap(None, 4096, 7, mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS | 0x40, -1, 0)  # 0x40: MAP_32BIT
assert page and page < 1 << 32
code = bytearray(4096)
code[0:9] = b"\x6a\x23\x68" + (page + 0x40).to_bytes(4, "little") + b"\x48\xcb"  # push 0x23; push 32-bit part; retfq
code[0x40:0x46] = b"\xff\x2d" + (page + 0x80).to_bytes(4, "little")            # jmp far [back]
code[0x60] = 0xC3                                                              # ret
code[0x80:0x86] = (page + 0x60).to_bytes(4, "little") + b"\x33\x00"            # back: 64-bit code segment
ctypes.memmove(page, bytes(code), len(code))
ctypes.CFUNCTYPE(None)(page)()
EOF
    status=$?
    exit $status) 2>/dev/null
}

use_vm() {
  case ${QELPAD_WINE_VM:-} in
    1) return 0 ;;
    0) return 1 ;;
  esac
  ! runs_32bit_code
}

# scripts/install-deps.sh asks whether this machine needs the virtual machine.
if [ "${1:-}" = --runs-32bit-code ]; then runs_32bit_code; exit; fi

wine_root=$("$here/wine-root.sh") || exit 125
binds=("$checkout")

# In bwrap: the root as /, the binds at their own paths, new PID, IPC and network namespaces; when
# the command ends, or this script is killed, every process of the session ends with it.
enter_with_bwrap() {  # COMMAND... (WINEPREFIX already set)
  local mounts=() network=(--unshare-net) dir
  for dir in "${binds[@]}"; do mounts+=(--bind "$dir" "$dir"); done
  if [ -n "$host_display" ]; then
    network=()
    [ -d /tmp/.X11-unix ] && mounts+=(--bind /tmp/.X11-unix /tmp/.X11-unix)
    [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && mounts+=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
    export QELPAD_HOST_DISPLAY=1
  fi
  bwrap --bind "$wine_root" / --proc /proc --dev /dev --tmpfs /tmp --tmpfs /run "${mounts[@]}" "${network[@]}" \
    --unshare-pid --unshare-ipc --die-with-parent -- /bin/bash "$here/wine-run.sh" --session "$@" &
  wait $!
}

# In the virtual machine: the root over 9p under a tmpfs layer (scripts/vm-init.sh), each bind over
# 9p at its own path, the prefix (when $vm_template is set) a tmpfs layer over the template. The
# session's output and exit code come back in files of a folder of this run.
enter_with_vm() {  # COMMAND...
  local out tag=0 dir shares=() session
  out=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-vm.XXXXXX")
  session=$out/session.sh
  {
    echo 'set -u'
    echo 'export PATH=/usr/local/bin:/usr/bin:/bin'
    echo 'share() { mkdir -p "$2" && mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose,msize=512000 "$1" "$2"; }'
    for dir in "${binds[@]}" "$out"; do
      echo "share b$tag $(printf %q "$dir")"
      shares+=(-virtfs "local,path=$dir,mount_tag=b$tag,security_model=none")
      tag=$((tag + 1))
    done
    if [ -n "${vm_template:-}" ]; then
      echo "mkdir -p /tmp/prefix.upper /tmp/prefix.work $(printf %q "$WINEPREFIX")"
      echo "mount -t overlay -o lowerdir=$(printf %q "$vm_template"),upperdir=/tmp/prefix.upper,workdir=/tmp/prefix.work prefix $(printf %q "$WINEPREFIX")"
      echo "chown $(id -u):$(id -g) $(printf %q "$WINEPREFIX")"
    fi
    # Wine wants its prefix to belong to whoever runs it: the session runs as this machine's user.
    echo "mkdir -p /tmp/home && chown $(id -u):$(id -g) /tmp/home && export HOME=/tmp/home"
    local as_user=
    [ "$(id -u)" = 0 ] || as_user="setpriv --reuid=$(id -u) --regid=$(id -g) --clear-groups "
    # What the host's environment says to Wine and to the tests.
    env | sed -n 's/^\(QELPAD_[A-Z0-9_]*\|WINE[A-Z]*\|LC_[A-Z]*\|LANG\)=.*/\1/p' | while read -r name; do
      echo "export $name=$(printf %q "${!name}")"
    done
    printf 'cd %q 2>/dev/null || cd /\n' "$PWD"
    printf '%s/bin/bash %q --session' "$as_user" "$here/wine-run.sh"
    printf ' %q' "$@"
    printf ' >%q 2>%q\n' "$out/stdout" "$out/stderr"
    echo "echo \$? >$(printf %q "$out/status")"
    [ -z "${QELPAD_KEEP_PREFIX:-}" ] || echo "cp -a $(printf %q "$WINEPREFIX") $(printf %q "$out/kept")"
    echo 'sync; echo o >/proc/sysrq-trigger; sleep 60'
  } >"$session"
  # The kernel reads concatenated archives as one: the root's initramfs, then this run's script.
  (cd "$out" && echo session.sh | "$wine_root/usr/bin/busybox" cpio -o -H newc 2>/dev/null) | gzip -n >"$out/session.cpio.gz"
  cat "$wine_root/opt/qelpad-vm/initrd.img" "$out/session.cpio.gz" >"$out/initrd.img"
  qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -smp "${QELPAD_VM_CPUS:-2}" -m 3072 \
    -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+cx16 -display none -nic none -no-reboot \
    -serial "file:$out/console.log" -kernel "$wine_root/opt/qelpad-vm/vmlinuz" -initrd "$out/initrd.img" \
    -append "console=ttyS0 quiet loglevel=0 panic=-1" \
    -virtfs "local,path=$wine_root,mount_tag=root,security_model=none,readonly=on" "${shares[@]}" &
  local qemu=$!
  trap 'kill $qemu 2>/dev/null; wait $qemu; rm -rf "$out"; exit 143' TERM INT
  wait $qemu
  trap - TERM INT
  cat "$out/stdout" 2>/dev/null
  cat "$out/stderr" >&2 2>/dev/null
  local status=125
  if [ -s "$out/status" ]; then
    status=$(cat "$out/status")
  else
    echo "wine-run: the virtual machine ended without an exit code; its console:" >&2
    tail -n 20 "$out/console.log" >&2
  fi
  [ ! -d "$out/kept" ] || { rm -rf "$QELPAD_KEEP_PREFIX"; mv "$out/kept" "$QELPAD_KEEP_PREFIX"; }
  rm -rf "$out"
  return "$status"
}

enter_root() {  # COMMAND...
  if [ -n "$vm" ]; then enter_with_vm "$@"; else enter_with_bwrap "$@"; fi
}

# ---- 2. The prefix --------------------------------------------------------------------------------

# Makes the template once per Wine root and way of entering it, under a lock, so that parallel runs
# wait for the first.
prepare_template() {  # DIR
  local dir=$1 made="$wine_root ${vm:+vm} v2"
  exec 9>"$dir.lock"
  flock 9
  if ! { [ -f "$dir/system.reg" ] && [ "$(cat "$dir/.wine-root" 2>/dev/null)" = "$made" ]; }; then
    rm -rf "$dir.tmp"
    mkdir -p "$dir.tmp"
    write_reg "$dir.tmp/settings.reg" settings
    binds+=("$dir.tmp")
    WINEPREFIX=$dir.tmp vm_template= \
      enter_root /bin/sh -c '"$1" wineboot --init && "$1" regedit /S "$2"' sh "$wine" \
      "Z:${dir//\//\\}.tmp\\settings.reg" >/dev/null 2>&1 ||
      { echo "wine-run: wineboot or regedit failed in $dir.tmp" >&2; return 1; }
    unset 'binds[${#binds[@]}-1]'
    rm -f "$dir.tmp/settings.reg"
    [ -f "$dir.tmp/system.reg" ] || { echo "wine-run: $dir.tmp has no registry" >&2; return 1; }
    echo "$made" >"$dir.tmp/.wine-root"
    rm -rf "$dir"
    mv "$dir.tmp" "$dir"
  fi
  flock -u 9
  exec 9>&-
}

# ---- 1. The run -----------------------------------------------------------------------------------

host_display=
while [ $# -gt 0 ]; do
  case $1 in
    --bind) binds+=("$(realpath -m "$2")"); shift 2 ;;
    --host-display) host_display=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--bind DIR]... [--host-display] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]" >&2; exit 2; }

vm=
use_vm && vm=1
if [ -n "$vm" ]; then
  command -v qemu-system-x86_64 >/dev/null ||
    { echo "wine-run: this machine cannot run 32-bit code, and qemu is missing (scripts/install-deps.sh)" >&2; exit 125; }
  [ -z "$host_display" ] || { echo "wine-run: the virtual machine has no access to this display; using Xvfb" >&2; host_display=; }
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}

program=$1
case $program in
  *.exe | *.EXE)
    program=$(realpath "$program")
    binds+=("$(dirname "$program")")
    default_template=$(dirname "$program")/wine-template ;;
  *) default_template=$checkout/build/win32/wine-template ;;
esac
shift
template=$(realpath -m "${QELPAD_WINE_TEMPLATE:-$default_template}")
mkdir -p "$(dirname "$template")"
prepare_template "$template" || exit 125

# Scratch prefixes sit beside the template, on its file system, so the drive can be hard-linked
# (a temporary folder on a tmpfs could not be); in the virtual machine it is a layer over it.
mkdir -p "$template.runs"
scratch=$(mktemp -d "$template.runs/run.XXXXXX")
export WINEPREFIX=$scratch/prefix
cleanup() {
  if [ -z "$vm" ] && [ -n "${QELPAD_KEEP_PREFIX:-}" ]; then rm -rf "$QELPAD_KEEP_PREFIX"; mv "$WINEPREFIX" "$QELPAD_KEEP_PREFIX"; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
binds+=("$scratch")
if [ -n "$vm" ]; then
  binds+=("$template")
  vm_template=$template
else
  mkdir -p "$WINEPREFIX"
  find "$template" -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$WINEPREFIX/" \;
  cp -al "$template/drive_c" "$WINEPREFIX/drive_c" 2>/dev/null ||
    { rm -rf "$WINEPREFIX/drive_c"; cp -a "$template/drive_c" "$WINEPREFIX/drive_c"; }
fi
enter_root "$program" "$@"
