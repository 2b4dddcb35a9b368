#!/usr/bin/env bash
# How every Windows program here reaches Wine, in one place. CTest runs each test case as
#   scripts/wine-run.sh build/win32/removal_tests.exe --gtest_filter=Removal.FullRemoval...
# (the toolchain file cmake/i686-w64-mingw32.cmake names this script as the emulator), and the run
# command, the benchmark and the signing test call it the same way. It
#   1. takes the Wine root that scripts/wine-root.sh makes once (Debian 13, Wine 10, WoW64);
#   2. prepares a prefix template once per Wine root and prefix settings, kept in the cache beside the
#      root (booted, unmanaged windows, Chinese fonts), and gives this run a fresh layer over it, so
#      that no two runs see each other's files or keys and none can change the template;
#   3. enters the root: with bwrap, in namespaces of its own; or, on a machine that cannot run
#      32-bit code (some hypervisors lack the 32-bit code segment WoW64 needs), in a virtual machine
#      that qemu emulates, with the root and the template as read-only disks (images made once
#      beside them) and the checkout and the bound folders shared over 9p;
#   4. there starts an X display and one wineserver, runs the program under Wine (or the command),
#      and ends every process it started. Exits with the program's exit code.
#
#   scripts/wine-run.sh [--bind DIR]... [--host-display] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]
# The checkout and the program's folder are visible inside at their own paths, and so is every
# --bind DIR; the rest of the machine is not. A COMMAND finds the prefix in $WINEPREFIX.
# --host-display  show windows on this machine's $DISPLAY instead of a private Xvfb (bwrap only).
#
#   scripts/wine-run.sh --template
# Prints the folder of the prefix template, made first when it is missing.
#
#   scripts/wine-run.sh --shared-machine [--bind DIR]... [--] COMMAND [ARGUMENTS...]
# Runs COMMAND (CTest, say) on this machine. Where Wine needs the virtual machine, one is booted for
# the whole of COMMAND, and every run of this script that COMMAND starts hands its program to it
# instead of booting a machine of its own: the same fresh layer over the template, its own wineserver
# (and display, if it has one), ended alone when its caller goes (a CTest time-out). Where 32-bit
# code runs here, COMMAND simply runs.
#
# QELPAD_WINE_TEMPLATE  the prefix template (default: in the cache beside the Wine root, named by what
#                       makes it); made on first use
# QELPAD_KEEP_PREFIX    a folder to keep the used prefix in, for a look afterwards
# QELPAD_SCREEN_DPI     the screen's scale in dots per inch (96 unless set)
# QELPAD_NO_DISPLAY     1: no X display at all; windows are made by Wine's null display driver, which
#                       draws nothing (a tenth to a fifth less work for a test case under emulation)
# QELPAD_LOCALE         the locale inside (LC_ALL), e.g. zh_CN.UTF-8; the root has it, this machine need not
# QELPAD_WINE_VM        1: always use the virtual machine; 0: never (default: when 32-bit code cannot run)
# QELPAD_VM_CPUS        processors of a virtual machine (default: this machine's)
# QELPAD_WINE_MACHINE   set by --shared-machine: the folder through which runs reach the shared machine
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
# (else every close waits ~2 s); no crash dialog; without an X display, windows from Wine's null
# display driver, which it takes only when named; the fonts above; and none of the services for
# devices, networks, volumes and the event log, which nothing here uses and every session would
# start, nor the bus, USB and Bluetooth devices, whose drivers services.exe starts even so. Drive
# letters need no mount manager: Wine reads the prefix's links itself. (The mount manager and the
# network driver alone are a tenth of a short case's work under emulation, the devices' driver host
# another.)
settings() {
  {
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="Y"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Graphics"="x11,null"\r\n\r\n'
    for service in winebus winehid wineusb winebth nsiproxy NDIS MountMgr PlugPlay Eventlog; do
      printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\%s]\r\n"Start"=dword:00000004\r\n\r\n' "$service"
    done
    for device in 'ROOT\WINE' WINEBUS HID; do
      printf '[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\%s]\r\n\r\n' "$device"
    done
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for face in "宋体" "新宋体" "SimSun" "NSimSun"; do
      printf '"%s"="%s"\r\n' "$face" "$song_face"
    done
    printf '\r\n'
    font_links
  }
}

# Waits SECONDS (a fraction allowed) without starting a process: in the emulated machine every fork
# and exec of sleep costs milliseconds, many times a second. Reads from a pipe that this script
# keeps open at both ends, so nothing ever arrives.
nap_fd=
nap() {  # SECONDS
  if [ -z "$nap_fd" ]; then
    local pipe
    pipe=$(mktemp -u "${QELPAD_SESSION_DIR:-${TMPDIR:-/tmp}}/nap.XXXXXX") && mkfifo "$pipe" &&
      exec {nap_fd}<>"$pipe" && rm -f "$pipe" || { sleep "$1"; return; }
  fi
  read -r -t "$1" -u "$nap_fd" _ || :
}

# ---- 4. Inside the root: the session --------------------------------------------------------------

# Its own scratch folder, display and wineserver: several sessions can share one machine. (Not
# TMPDIR: Wine 10's wineserver crashes at start when TMPDIR is set.)
if [ "${1:-}" = --session ]; then
  shift
  [ -z "${QELPAD_LOCALE:-}" ] || export LC_ALL=$QELPAD_LOCALE
  tmp=${QELPAD_SESSION_DIR:-/tmp}
  xvfb_pid=
  if [ -n "${QELPAD_NO_DISPLAY:-}" ]; then
    unset DISPLAY
  elif [ -z "${QELPAD_HOST_DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 600); do [ -s "$tmp/display" ] && break; nap 0.05; done
    [ -s "$tmp/display" ] || { echo "wine-run: Xvfb did not start" >&2; exit 125; }
    export DISPLAY=:$(head -n1 "$tmp/display")
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
      write_reg "$tmp/font-links.reg" font_links
      "$wine" regedit /S "Z:${tmp//\//\\}\\font-links.reg" ||
        { echo "wine-run: could not restore the font links" >&2; exit 125; } ;;
  esac
  case $1 in
    *.exe | *.EXE) "$wine" "$@" ;;
    *) "$@" ;;
  esac
  status=$?
  # A prefix that is thrown away afterwards: the wineserver need not write the registry back, which
  # takes seconds emulated.
  signal=
  [ -z "${QELPAD_DISCARD_PREFIX:-}" ] || signal=9
  /usr/lib/wine/wineserver -k$signal 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null
  exit $status
fi

# ---- 3b. Inside the virtual machine: its runs ----------------------------------------------------

# The machine's first process after its shares are mounted, as root: starts each run that appears
# in DIR/runs (its run.sh), each in a control group of its own, so that everything a run started can
# be ended with it; ends a run when its caller stopped beating (DIR/runs/ID/beat) or asked
# (DIR/runs/ID/cancel); powers the machine off when DIR/stop appears.
if [ "${1:-}" = --machine ]; then
  dir=$2
  echo -1000 >/proc/self/oom_score_adj  # the machine's first process waits for it: never killed for memory
  mountpoint -q /sys/fs/cgroup || mount -t cgroup2 cgroup2 /sys/fs/cgroup
  # A fault in a file that is in the page cache maps 2 MiB of it at once, not 64 KiB: every Wine
  # process maps the same DLLs, and each fault is dear under emulation (a tenth of a window case).
  mountpoint -q /sys/kernel/debug || mount -t debugfs debugfs /sys/kernel/debug
  echo 2097152 >/sys/kernel/debug/fault_around_bytes
  # Every share lookup costs the emulated machine a trip into qemu: new runs are looked for in one
  # listing five times a second, the running ones checked once a second. A run is started once:
  # its folder stays listed until its caller has read the outcome and removed it.
  declare -A seen running beat since
  end_run() {  # ID
    [ -d "/sys/fs/cgroup/run-$1" ] && echo 1 >"/sys/fs/cgroup/run-$1/cgroup.kill"
    for _ in $(seq 100); do [ -s "/sys/fs/cgroup/run-$1/cgroup.procs" ] || break; nap 0.1; done
    umount -l "/tmp/runs/$1/prefix" 2>/dev/null
    rmdir "/sys/fs/cgroup/run-$1" 2>/dev/null
    rm -rf "/tmp/runs/$1"
    unset 'running[$1]' 'beat[$1]' 'since[$1]'
  }
  touch "$dir/ready"
  tick=0
  until [ -e "$dir/stop" ]; do
    for run in "$dir"/runs/*; do
      id=${run##*/}
      [ -z "${seen[$id]:-}" ] && [ -f "$run/run.sh" ] || continue
      seen[$id]=1 running[$id]=1 since[$id]=$SECONDS beat[$id]=
      mkdir -p "/sys/fs/cgroup/run-$id"
      /bin/bash -c 'echo $$ >"$1/cgroup.procs" && exec /bin/bash "$2"' sh "/sys/fs/cgroup/run-$id" "$run/run.sh" &
    done
    if [ $((tick++ % 5)) -eq 0 ]; then
      for id in "${!running[@]}"; do
        run=$dir/runs/$id
        if [ -e "$run/status" ] || [ ! -d "$run" ]; then
          end_run "$id"
          continue
        fi
        now=
        read -r now 2>/dev/null <"$run/beat"
        if [ "$now" != "${beat[$id]}" ]; then beat[$id]=$now since[$id]=$SECONDS; fi
        if [ -e "$run/cancel" ] || [ $((SECONDS - since[$id])) -gt 30 ]; then
          end_run "$id"
          echo 137 >"$run/status"
        fi
      done
    fi
    nap 0.2
  done
  for id in "${!running[@]}"; do end_run "$id"; done
  sync
  echo o >/proc/sysrq-trigger
  sleep 60
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
# the command ends, or this script is killed, every process of the session ends with it. The prefix
# is a layer over the template, mounted in a mount namespace of its own (as root, or as the root of
# a user namespace) that bwrap then enters, so that the template stays as it is.
enter_with_bwrap() {  # COMMAND... (WINEPREFIX set; $template the lower layer, or empty for none)
  local mounts=() network=(--unshare-net) dir
  for dir in "${binds[@]}"; do mounts+=(--bind "$dir" "$dir"); done
  if [ -n "$host_display" ]; then
    network=()
    [ -d /tmp/.X11-unix ] && mounts+=(--bind /tmp/.X11-unix /tmp/.X11-unix)
    [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && mounts+=(--ro-bind "$XAUTHORITY" "$XAUTHORITY")
    export QELPAD_HOST_DISPLAY=1
  fi
  local bwrap=(bwrap --bind "$wine_root" / --proc /proc --dev /dev --tmpfs /tmp --tmpfs /run "${mounts[@]}"
    "${network[@]}" --unshare-pid --unshare-ipc --die-with-parent -- /bin/bash "$here/wine-run.sh" --session "$@")
  if [ -n "${layer_over:-}" ]; then
    local as_root=()
    [ "$(id -u)" = 0 ] || as_root=(--map-root-user)
    setpriv --pdeathsig KILL -- unshare --mount "${as_root[@]}" /bin/sh -c '
      mkdir -p "$1/upper" "$1/work" "$WINEPREFIX" &&
        mount -t overlay -o "lowerdir=$2,upperdir=$1/upper,workdir=$1/work" prefix "$WINEPREFIX" || exit 125
      shift 2
      "$@"
      status=$?
      [ -z "${QELPAD_KEEP_PREFIX:-}" ] || { rm -rf "$QELPAD_KEEP_PREFIX" && cp -a "$WINEPREFIX" "$QELPAD_KEEP_PREFIX"; }
      exit $status' sh "$scratch" "$layer_over" "${bwrap[@]}" &
  else
    "${bwrap[@]}" &
  fi
  wait $!
}

# ---- The virtual machine ----------------------------------------------------------------------------

# An image of DIR for a disk of the virtual machine: an ext4 file system, read-only in the machine.
# Over 9p every lookup and open is a trip into qemu, and every Wine process finds its DLLs and
# fontconfig reads its configuration again (qemu opened files some 62,000 times for one window
# case); on a disk they stay inside the machine. Made once, beside DIR. A user who is not root
# makes the root's image as the root of a user namespace, which reads the root's files, and owns
# them in the image, as mmdebstrap wrote them; the template's files are the user's own.
make_image() {  # DIR IMAGE [as-mmdebstrap]
  local kb files as_root=()
  [ -s "$2" ] && return 0
  # mmdebstrap's own mapping: this user's first block of subordinate ids from 0, and the user beyond
  # it, so that the image (made here first) stays theirs.
  [ "$(id -u)" = 0 ] || [ -z "${3:-}" ] ||
    as_root=(unshare --map-auto --map-user=65536 --map-group=65536 --setuid 0 --setgid 0)
  kb=$("${as_root[@]}" du -sk "$1" | cut -f1)
  files=$("${as_root[@]}" find "$1" | wc -l)
  : >"$2.tmp"
  "${as_root[@]}" /sbin/mke2fs -q -F -t ext4 -O ^has_journal,^metadata_csum -m 0 -b 4096 \
    -N $((files + 10000)) -d "$1" "$2.tmp" $((kb * 11 / 10 + 65536))k >"$2.log" 2>&1 ||
    { echo "wine-run: could not make the disk image $2 (see $2.log)" >&2; rm -f "$2.tmp"; return 1; }
  rm -f "$2.log"
  mv "$2.tmp" "$2"
}

# The image of the Wine root, made once per root under a lock.
root_image() {
  [ -s "$wine_root.img" ] ||
    { flock 8 && make_image "$wine_root" "$wine_root.img" as-mmdebstrap; } 8>"$wine_root.img.lock"
}

# A folder through which this machine and a virtual machine talk over 9p: the virtual machine mounts
# it without a cache and starts each run whose run.sh appears in runs/ (--machine above).
# Boots the virtual machine on $machine_dir with the images of the root and (when $template is set)
# of the template as read-only disks, and the binds and the folder itself shared at their own paths,
# and waits until it is ready. Leaves $machine_pid.
boot_machine() {
  local tag=0 dir shares=() boot=$machine_dir/boot loop
  mkdir -p "$machine_dir/runs" "$boot"
  {
    echo 'set -u'
    echo 'export PATH=/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'
    echo 'share() { mkdir -p "$2" && mount -t 9p -o "trans=virtio,version=9p2000.L,msize=512000$3" "$1" "$2"; }'
    for dir in "${binds[@]}"; do
      echo "share b$tag $(printf %q "$dir") ,cache=loose"
      shares+=(-virtfs "local,path=$dir,mount_tag=b$tag,security_model=none")
      tag=$((tag + 1))
    done
    if [ -n "${template:-}" ]; then
      echo 'for _ in $(seq 100); do [ -b /dev/vdb ] && break; sleep 0.05; done'
      echo "mkdir -p $(printf %q "$template") && mount -t ext4 -o ro /dev/vdb $(printf %q "$template")"
      shares+=(-drive "file=$template.img,if=virtio,format=raw,readonly=on")
    fi
    echo "share machine $(printf %q "$machine_dir") ''"
    shares+=(-virtfs "local,path=$machine_dir,mount_tag=machine,security_model=none")
    # The machine's loop runs from a copy: bash reads a script as it goes, and this one may be edited
    # meanwhile. Should it ever end otherwise than by powering off, the console says how.
    printf 'cp %q /run/machine.sh\n' "$here/wine-run.sh"
    # (One line: the machine's /bin/sh reads this file, and %q writes a line break as $'\n'.)
    loop='/bin/bash /run/machine.sh --machine "$1"; echo "wine-run: the machine loop ended with'
    loop+=' status $?"; echo o >/proc/sysrq-trigger; sleep 60'
    printf 'exec /bin/bash -c %q sh %q\n' "$loop" "$machine_dir"
  } >"$boot/session.sh"
  # The kernel reads concatenated archives as one: the root's initramfs, then this machine's script.
  (cd "$boot" && echo session.sh | "$wine_root/usr/bin/busybox" cpio -o -H newc 2>/dev/null) | gzip -n >"$boot/session.cpio.gz"
  cat "$wine_root/opt/qelpad-vm/initrd.img" "$boot/session.cpio.gz" >"$boot/initrd.img"
  # It ends with this script, also when this script is killed. Its kernel maps every process at the
  # same addresses (norandmaps): qemu 7.2 finds code it translated by virtual address, so what one
  # Wine process translated serves every later one, a third of a short test case's time. The machine
  # runs nothing but these runs, so it also goes without the defences against speculative execution
  # that every system call pays for.
  setpriv --pdeathsig KILL -- qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -smp "${QELPAD_VM_CPUS:-$(nproc)}" \
    -m "$1" -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+cx16 -display none -nic none -no-reboot \
    -serial "file:$boot/console.log" -kernel "$wine_root/opt/qelpad-vm/vmlinuz" -initrd "$boot/initrd.img" \
    -append "console=ttyS0 quiet loglevel=0 panic=-1 norandmaps mitigations=off" \
    -drive "file=$wine_root.img,if=virtio,format=raw,readonly=on" "${shares[@]}" &
  machine_pid=$!
  local waited=0
  while [ ! -e "$machine_dir/ready" ]; do
    if ! kill -0 "$machine_pid" 2>/dev/null || [ "$waited" -ge 1500 ]; then
      echo "wine-run: the virtual machine did not start; its console:" >&2
      tail -n 20 "$boot/console.log" >&2
      return 1
    fi
    sleep 0.2
    waited=$((waited + 1))
  done
}

# Asks the machine to power off, and waits for it (ending it after a minute).
stop_machine() {
  touch "$machine_dir/stop"
  for _ in $(seq 300); do kill -0 "$machine_pid" 2>/dev/null || break; sleep 0.2; done
  kill "$machine_pid" 2>/dev/null
  wait "$machine_pid" 2>/dev/null
}

# Hands COMMAND to the machine at $machine_dir and waits for it; the session's output and exit code
# come back in files of the run's folder. The prefix is a fresh layer over $template (or, without
# one, $WINEPREFIX as it is). While this waits it beats once a second; when it stops beating (it was
# killed) or is interrupted, the machine ends the run.
run_in_machine() {  # COMMAND...
  local run id as_user= name
  run=$(mktemp -d "$machine_dir/runs/.new.XXXXXX")
  id=${run##*/.new.}
  [ "$(id -u)" = 0 ] || as_user="setpriv --reuid=$(id -u) --regid=$(id -g) --clear-groups "
  {
    echo 'set -u'
    echo 'export PATH=/usr/local/bin:/usr/bin:/bin'
    echo "mkdir -p /tmp/runs/$id/home /tmp/runs/$id/tmp && chown $(id -u):$(id -g) /tmp/runs/$id/home /tmp/runs/$id/tmp"
    if [ -n "${template:-}" ]; then
      echo "export WINEPREFIX=/tmp/runs/$id/prefix"
      echo "mkdir -p /tmp/runs/$id/upper /tmp/runs/$id/work \$WINEPREFIX"
      echo "mount -t overlay -o lowerdir=$(printf %q "$template"),upperdir=/tmp/runs/$id/upper,workdir=/tmp/runs/$id/work prefix \$WINEPREFIX"
      echo "chown $(id -u):$(id -g) \$WINEPREFIX"
      [ -n "${QELPAD_KEEP_PREFIX:-}" ] || echo "export QELPAD_DISCARD_PREFIX=1"
    fi
    # Wine wants its prefix to belong to whoever runs it: the session runs as this machine's user.
    echo "export HOME=/tmp/runs/$id/home QELPAD_SESSION_DIR=/tmp/runs/$id/tmp"
    # What the host's environment says to Wine and to the tests.
    env | sed -n 's/^\(QELPAD_[A-Z0-9_]*\|WINE[A-Z]*\|LC_[A-Z]*\|LANG\)=.*/\1/p' | while read -r name; do
      [ "$name" = WINEPREFIX ] && [ -n "${template:-}" ] && continue
      echo "export $name=$(printf %q "${!name}")"
    done
    printf 'cd %q 2>/dev/null || cd /\n' "$PWD"
    printf '%s/bin/bash %q --session' "$as_user" "$here/wine-run.sh"
    printf ' %q' "$@"
    printf ' >%q 2>%q\n' "$machine_dir/runs/$id/stdout" "$machine_dir/runs/$id/stderr"
    echo "status=\$?"
    [ -z "${QELPAD_KEEP_PREFIX:-}" ] || echo "cp -a \$WINEPREFIX $(printf %q "$machine_dir/runs/$id/kept")"
    echo "echo \$status >$(printf %q "$machine_dir/runs/$id/status.new")"
    echo "mv $(printf %q "$machine_dir/runs/$id/status.new") $(printf %q "$machine_dir/runs/$id/status")"
  } >"$run/run.sh"
  run_dir=$machine_dir/runs/$id
  mv "$run" "$run_dir"
  local beat=0
  until [ -e "$run_dir/status" ]; do
    kill -0 "$machine_pid" 2>/dev/null || break
    beat=$((beat + 1))
    [ $((beat % 5)) -ne 1 ] || echo "$beat" >"$run_dir/beat"
    nap 0.2
  done
  cat "$run_dir/stdout" 2>/dev/null
  cat "$run_dir/stderr" >&2 2>/dev/null
  local status=125
  if [ -s "$run_dir/status" ]; then
    status=$(cat "$run_dir/status")
  else
    echo "wine-run: the virtual machine ended without an exit code; its console:" >&2
    tail -n 20 "$machine_dir/boot/console.log" >&2
  fi
  [ ! -d "$run_dir/kept" ] || { rm -rf "$QELPAD_KEEP_PREFIX"; mv "$run_dir/kept" "$QELPAD_KEEP_PREFIX"; }
  rm -rf "$run_dir"
  run_dir=
  return "$status"
}

# Boots a machine for this run alone, runs COMMAND there and powers it off.
enter_with_vm() {  # COMMAND...
  own_machine=1
  machine_dir=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-vm.XXXXXX")
  boot_machine 3072 || return 125
  local status=0
  run_in_machine "$@" || status=$?
  stop_machine
  # Gone now, not when the script ends: the template's machine comes before the run's.
  rm -rf "$machine_dir"
  own_machine= machine_dir= machine_pid=
  return "$status"
}

# The shared machine can take this run when it sees every folder the run needs.
shared_machine_sees() {
  local dir shared
  [ -n "${QELPAD_WINE_MACHINE:-}" ] && [ -s "$QELPAD_WINE_MACHINE/pid" ] && [ ! -e "$QELPAD_WINE_MACHINE/stop" ] || return 1
  [ "$(cat "$QELPAD_WINE_MACHINE/template")" = "$template" ] || return 1
  for dir in "${binds[@]}"; do
    while read -r shared; do
      case $dir/ in "$shared"/*) continue 2 ;; esac
    done <"$QELPAD_WINE_MACHINE/shared"
    return 1
  done
}

enter_root() {  # COMMAND...
  if [ -z "$vm" ]; then
    enter_with_bwrap "$@"
  elif shared_machine_sees; then
    machine_dir=$QELPAD_WINE_MACHINE machine_pid=$(cat "$QELPAD_WINE_MACHINE/pid") run_in_machine "$@"
  else
    enter_with_vm "$@"
  fi
}

# ---- 2. The prefix --------------------------------------------------------------------------------

# The template's folder in the cache, named by what makes it: the Wine root, the way it is entered
# and the settings above. Templates of roots that are gone are removed.
template_for_root() {
  local made key cache
  made="$wine_root ${vm:+vm} v3
$(settings)"
  key=$(printf '%s' "$made" | sha256sum | cut -c1-16)
  cache=$(dirname "$wine_root")
  for dir in "$cache"/wine-template-*/; do
    [ -f "$dir/.wine-root" ] && [ ! -d "$(head -n1 "$dir/.wine-root" | cut -d' ' -f1)" ] &&
      rm -rf "$dir" "${dir%/}".{img,lock,log}
  done
  echo "$cache/wine-template-$key"
}

# Makes the template once, under a lock, so that parallel runs wait for the first.
prepare_template() {  # DIR
  local dir=$1
  exec 9>"$dir.lock"
  flock 9
  if [ ! -f "$dir/.wine-root" ]; then
    rm -rf "$dir.tmp"
    mkdir -p "$dir.tmp"
    write_reg "$dir.tmp/settings.reg" settings
    binds+=("$dir.tmp")
    WINEPREFIX=$dir.tmp template= layer_over= \
      enter_root /bin/sh -c '"$1" wineboot --init && "$1" regedit /S "$2"' sh "$wine" \
      "Z:${dir//\//\\}.tmp\\settings.reg" >"$dir.log" 2>&1 ||
      { echo "wine-run: wineboot or regedit failed in $dir.tmp" >&2; return 1; }
    unset 'binds[${#binds[@]}-1]'
    rm -f "$dir.tmp/settings.reg"
    [ -f "$dir.tmp/system.reg" ] || { echo "wine-run: $dir.tmp has no registry" >&2; return 1; }
    echo "$wine_root ${vm:+vm}" >"$dir.tmp/.wine-root"
    rm -rf "$dir" "$dir.img"
    mv "$dir.tmp" "$dir"
  fi
  [ -z "$vm" ] || make_image "$dir" "$dir.img" || return 1
  flock -u 9
  exec 9>&-
}

# ---- 1. The run -----------------------------------------------------------------------------------

# Whatever this run made is gone when it ends, also when it is interrupted: the machine it booted,
# its scratch folder; a run it handed to the shared machine is ended there.
own_machine= machine_dir= machine_pid= run_dir= scratch=
on_exit() {
  [ -z "$run_dir" ] || touch "$run_dir/cancel" 2>/dev/null
  if [ -n "$own_machine" ]; then
    [ -z "$machine_pid" ] || { kill "$machine_pid" 2>/dev/null; wait "$machine_pid" 2>/dev/null; }
    rm -rf "$machine_dir"
  fi
  [ -z "$scratch" ] || rm -rf "$scratch"
}
trap on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

host_display= shared_machine= print_template=
while [ $# -gt 0 ]; do
  case $1 in
    --bind) binds+=("$(realpath -m "$2")"); shift 2 ;;
    --host-display) host_display=1; shift ;;
    --shared-machine) shared_machine=1; shift ;;
    --template) print_template=1; shift; break ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || [ -n "$print_template" ] || { echo "usage: $0 [--bind DIR]... [--host-display | --shared-machine] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]" >&2; exit 2; }

vm=
use_vm && vm=1
if [ -n "$vm" ]; then
  command -v qemu-system-x86_64 >/dev/null ||
    { echo "wine-run: this machine cannot run 32-bit code, and qemu is missing (scripts/install-deps.sh)" >&2; exit 125; }
  root_image || exit 125
  [ -z "$host_display" ] || { echo "wine-run: the virtual machine has no access to this display; using Xvfb" >&2; host_display=; }
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}

if [ -n "$vm" ] && [ -z "${QELPAD_WINE_TEMPLATE:-}" ] && [ -n "${QELPAD_WINE_MACHINE:-}" ] &&
  [ -s "$QELPAD_WINE_MACHINE/template" ]; then
  # Beside a shared machine: the template it was booted with, made before it booted.
  template=$(<"$QELPAD_WINE_MACHINE/template")
else
  template=$(realpath -m "${QELPAD_WINE_TEMPLATE:-$(template_for_root)}")
  mkdir -p "$(dirname "$template")"
  prepare_template "$template" || exit 125
fi
[ -z "$print_template" ] || { echo "$template"; exit 0; }

if [ -n "$shared_machine" ]; then
  # Where bwrap runs Wine, every run is cheap already.
  [ -n "$vm" ] || exec "$@"
  own_machine=1
  machine_dir=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-machine.XXXXXX")
  started=$SECONDS
  boot_machine 6144 || exit 125
  printf '%s\n' "${binds[@]}" >"$machine_dir/shared"
  echo "$template" >"$machine_dir/template"
  echo "$machine_pid" >"$machine_dir/pid"
  echo "wine-run: one virtual machine for this run, up in $((SECONDS - started)) s" >&2
  status=0
  QELPAD_WINE_MACHINE=$machine_dir "$@" || status=$?
  stop_machine
  exit "$status"
fi

program=$1
case $program in
  *.exe | *.EXE)
    program=$(realpath "$program")
    binds+=("$(dirname "$program")") ;;
esac
shift

if [ -n "$vm" ]; then
  # The prefix is a layer over the template inside the machine.
  enter_root "$program" "$@"
  exit
fi
# A layer over the template, in a scratch folder beside it.
mkdir -p "$template.runs"
scratch=$(mktemp -d "$template.runs/run.XXXXXX")
export WINEPREFIX=$scratch/prefix
binds+=("$scratch")
[ -n "${QELPAD_KEEP_PREFIX:-}" ] || export QELPAD_DISCARD_PREFIX=1
layer_over=$template enter_root "$program" "$@"
