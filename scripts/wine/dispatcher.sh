#!/bin/bash
# The virtual machine's dispatcher: its first process once its disks and shares are mounted (the
# host driver's boot script starts it, as root, from the initramfs that scripts/wine-root.sh makes).
# It runs each program that the host driver (scripts/wine/host.py) hands it, in a Wine session
# (scripts/wine/session.sh): a fresh one of its own, or a warm one that serves one run after
# another.
#   dispatcher.sh MACHINE_DIR
#
# The hand-off, through MACHINE_DIR (the host's folder, shared over 9p at the same path):
# | file                   | written by | when                        | what it says                                |
# |------------------------|------------|-----------------------------|---------------------------------------------|
# | ready                  | machine    | once it listens             | the host may hand runs over                 |
# | runs/ID/               | host       | a run, whole at once        | made as runs/.new.ID, then renamed          |
# | runs/ID/argv           | host       | with the run                | the program (or command) and its arguments, |
# |                        |            |                             | each ended by a NUL                         |
# | runs/ID/env            | host       | with the run                | NAME=VALUE, each ended by a NUL: the        |
# |                        |            |                             | session's and the program's environment     |
# | runs/ID/how            | host       | with the run                | lines NAME=VALUE: warm (1: in a warm        |
# |                        |            |                             | session; else a fresh one), template        |
# |                        |            |                             | (the folder the prefix is a layer over;     |
# |                        |            |                             | none: $WINEPREFIX of env as it is), user    |
# |                        |            |                             | (UID:GID to run as), cwd, keep (1: copy the |
# |                        |            |                             | prefix to kept/ afterwards)                 |
# | runs/ID/beat           | host       | every second                | a counter: a run whose caller stopped       |
# |                        |            |                             | beating for 15 s is ended                   |
# | runs/ID/cancel         | host       | its caller was interrupted  | end the run now                             |
# | runs/ID/stdout, stderr | machine    | as the program writes       | its output, and the dispatcher's word on it |
# | runs/ID/kept/          | machine    | before status, with keep=1  | the prefix as the run left it               |
# | runs/ID/status         | machine    | last, in one write          | the exit code and a newline; 137 when the   |
# |                        |            |                             | run was ended (the host reads it once whole)|
# | stop                   | host       | at the end                  | end every run and power off                 |
# | wake.in (a FIFO)       | host       | after runs/ID/, cancel and  | a line, which reaches the machine's second  |
# |                        |            | stop                        | serial port: look at the folder now         |
# The host removes runs/ID once it has read the status. Its own files in MACHINE_DIR (boot/, pid,
# template, shared) are not the machine's business.
#
# A run in a warm session takes a free one of its kind (the display, DPI, locale and Wine's settings
# in its environment), or a new one when none is free; CTest's -j bounds how many there are. A
# session is kept only while its runs leave it as they found it: after a run that exits other than
# with 0, that leaves a process of its own behind, or that is ended, it is thrown away.
set -u
dir=$1
here=$(cd "$(dirname "$0")" && pwd)
cgroups=/sys/fs/cgroup
sessions=/tmp/sessions

echo -1000 >/proc/self/oom_score_adj  # the machine's first process waits for it: never killed for memory
mountpoint -q $cgroups || mount -t cgroup2 cgroup2 $cgroups
# A fault in a file that is in the page cache maps 2 MiB of it at once, not 64 KiB: every Wine
# process maps the same DLLs, and each fault is dear under emulation.
mountpoint -q /sys/kernel/debug || mount -t debugfs debugfs /sys/kernel/debug
echo 2097152 >/sys/kernel/debug/fault_around_bytes

# Waits SECONDS (a fraction allowed) without starting a process, which costs milliseconds here:
# reads from a pipe held open at both ends, so nothing ever arrives.
mkfifo /run/nap && exec {nap_fd}<>/run/nap
nap() { read -r -t "$1" -u "$nap_fd" _ || :; }

# Sets $value to VALUE of the line NAME=VALUE in FILE (empty when there is none).
setting() {  # FILE NAME
  local key
  while IFS='=' read -r key value; do [ "$key" != "$2" ] || return 0; done <"$1"
  value=
}

# Whether cgroup NAME holds a process. (Its cgroup.procs always has the size 0: it must be read.)
populated() {  # NAME
  local pid=
  read -r pid 2>/dev/null <"$cgroups/$1/cgroup.procs"
  [ -n "$pid" ]
}

# Whether cgroup NAME is empty, or empties within SECONDS (looked at every 20 ms: a Windows program's
# Linux process ends a little after Wine has given its exit code).
emptied() {  # NAME SECONDS
  local i
  for ((i = 0; i < $2 * 50; i++)); do populated "$1" || return 0; nap 0.02; done
  ! populated "$1"
}

# Every process in cgroup NAME ended, and the cgroup gone.
end_cgroup() {  # NAME
  [ -d "$cgroups/$1" ] || return 0
  echo 1 >"$cgroups/$1/cgroup.kill"
  emptied "$1" 10
  rmdir "$cgroups/$1" 2>/dev/null
}

# A session NAME: its folder /tmp/sessions/NAME (prefix, home, scratch), its processes in cgroup
# NAME, its launcher in NAME.launch and the program of its current run in NAME.run.
end_session() {  # NAME
  end_cgroup "$1.run"
  end_cgroup "$1.launch"
  end_cgroup "$1"
  umount -l "$sessions/$1/prefix" 2>/dev/null
  rm -rf "${sessions:?}/$1"
}

# Runs COMMAND as the run's user, with the run's environment and the session's, in cgroup GROUP.
as_user() {  # GROUP COMMAND...
  local group=$1
  shift
  (echo $BASHPID >"$cgroups/$group/cgroup.procs" || exit 125
   cd "$cwd" 2>/dev/null || cd /
   exec env -i PATH=/usr/local/bin:/usr/bin:/bin "${env[@]}" HOME="$sessions/$name/home" \
     QELPAD_SESSION_DIR="$sessions/$name/tmp" WINEPREFIX="$prefix" \
     setpriv --reuid="${user%:*}" --regid="${user#*:}" --clear-groups "$@")
}

# Makes session $name for this run: its folders and cgroups, the prefix (a layer over the template,
# or the prefix of env as it is).
make_session() {
  local home=$sessions/$name
  mkdir -p "$home/home" "$home/tmp" "$cgroups/$name" "$cgroups/$name.run" "$cgroups/$name.launch"
  if [ -n "$template" ]; then
    prefix=$home/prefix
    mkdir -p "$home/upper" "$home/work" "$prefix"
    mount -t overlay -o "lowerdir=$template,upperdir=$home/upper,workdir=$home/work" prefix "$prefix" ||
      return 1
    chown "$user" "$prefix"
  fi
  chown "$user" "$home/home" "$home/tmp"
  echo "$prefix" >"$home/prefix.path"
}

# Whether the program left processes in its cgroup, after giving them a moment to end; sets $left
# to them, by name.
left_behind() {
  local pid names=()
  ! emptied "$name.run" 3 || return 1
  while read -r pid; do names+=("$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"); done \
    <"$cgroups/$name.run/cgroup.procs"
  printf -v left '%s; ' "${names[@]}"
}

# A warm session starts its Windows programs through its launcher (launcher.c), as one Windows
# program starts another: named on Wine's command line, a 32-bit program is started by a 64-bit
# start.exe first, which doubles what its start costs here. The launcher's processes are moved into
# the run's cgroup while it starts the program, so that the program and what it leaves are the
# run's, and back once it has started. Without a launcher the session runs them with Wine.
start_launcher() {
  local launcher word value
  if as_user "$name.launch" /bin/bash "$here/session.sh" launcher && launcher_pipes &&
    mapfile -t launcher <"$cgroups/$name.launch/cgroup.procs" && launcher_says && [ "$word" = ready ]; then
    cat "$cgroups/$name.launch/cgroup.procs" >"$sessions/$name/launcher"
  else
    echo "wine-run: the session's launcher did not start; Wine starts its programs" >&2
  fi
}

# The launcher's pipes, opened once by a run of the session (at both ends: never a wait to open).
launcher_pipes() {
  [ -n "${launch_from:-}" ] ||
    exec {launch_to}<>"$sessions/$name/tmp/launch.in" {launch_from}<>"$sessions/$name/tmp/launch.out"
}

# The launcher's answer: WORD and VALUE of its next line. Fails when its processes have all ended.
# A read that times out keeps what it had read of the line, which the next read goes on with.
launcher_says() {
  local pid part line=
  until IFS= read -r -t 1 part <&"$launch_from"; do
    line+=$part
    for pid in "${launcher[@]}"; do ! kill -0 "$pid" 2>/dev/null || continue 2; done
    echo "wine-run: the session's launcher (processes ${launcher[*]}) has ended: $(<"$sessions/$name/tmp/launcher.log")" >&2
    return 1
  done
  line+=$part
  word=${line%% *} value=${line#* }
}

# Runs argv through the session's launcher; sets status.
launch() {
  local pid word value launcher
  [ -d "$cwd" ] || cwd=/
  launcher_pipes
  mapfile -t launcher <"$sessions/$name/launcher"
  for pid in "${launcher[@]}"; do echo "$pid" >"$cgroups/$name.run/cgroup.procs" 2>/dev/null; done
  printf '%s\t%s\n' "$run" "$cwd" >&"$launch_to"
  launcher_says
  for pid in "${launcher[@]}"; do echo "$pid" >"$cgroups/$name.launch/cgroup.procs" 2>/dev/null; done
  case $word in
    started)
      if launcher_says && [ "$word" = exit ]; then
        status=$value
      else
        echo "wine-run: the session's launcher did not say how the program ended (\"$word $value\")" >&2
        status=125
      fi ;;
    failed) echo "wine-run: could not start ${argv[0]} (Windows error $value)" >&2; status=125 ;;
    *) echo "wine-run: the session's launcher did not say whether it started the program (\"$word $value\")" >&2
      status=125 ;;
  esac
}

# Sets $this to the kind of session a run needs: what a session's start makes of the environment
# (the host sorts it).
kind_of_run() {  # ID
  local value env
  this=
  mapfile -d '' env <"$dir/runs/$1/env"
  for value in "${env[@]}"; do
    case $value in
      QELPAD_NO_DISPLAY=* | QELPAD_SCREEN_DPI=* | QELPAD_LOCALE=* | WINE* | LC_* | LANG=*)
        [ "${value%%=*}" = WINEPREFIX ] || this+="$value;" ;;
    esac
  done
}

# One run, in a subshell of its own (in cgroup run-ID), in session NAME: a warm one, made first if
# it is not there yet, or a fresh one. Then the session kept or thrown away, and the status.
run_one() {  # ID NAME warm|fresh
  local run=$dir/runs/$1 id=$1 name=$2 warm= template= user=0:0 cwd=/ keep= key value env=() left= status prefix=
  [ "$3" = fresh ] || warm=1
  echo $BASHPID >"$cgroups/run-$id/cgroup.procs"
  while IFS='=' read -r key value; do
    case $key in template | user | cwd | keep) printf -v "$key" %s "$value" ;; esac
  done <"$run/how"
  mapfile -d '' env <"$run/env"
  mapfile -d '' argv <"$run/argv"
  for value in "${env[@]}"; do case $value in WINEPREFIX=*) prefix=${value#*=} ;; esac; done
  # Appended: the launcher's program writes to these files too.
  exec >>"$run/stdout" 2>>"$run/stderr"
  if [ -e "$sessions/$name/ready" ]; then
    read -r prefix <"$sessions/$name/prefix.path"
  elif ! make_session; then
    echo "wine-run: could not make the session's prefix" >&2
    status=125
  elif [ -n "$warm" ] && ! as_user "$name" /bin/bash "$here/session.sh" start; then
    status=125
  else
    [ -z "$warm" ] || start_launcher
    touch "$sessions/$name/ready"
  fi
  if [ -z "${status:-}" ]; then
    if [ -n "$warm" ] && [ -e "$sessions/$name/launcher" ] && [[ ${argv[0]} == */*.[eE][xX][eE] ]]; then
      launch
    elif [ -n "$warm" ]; then
      as_user "$name.run" /bin/bash "$here/session.sh" run "${argv[@]}"
      status=$?
    else
      # A prefix over the template is thrown away with the session: nothing to save of it.
      [ -z "$template" ] || [ -n "$keep" ] || env+=(QELPAD_DISCARD_PREFIX=1)
      as_user "$name.run" /bin/bash "$here/session.sh" "${argv[@]}"
      status=$?
    fi
    if [ -n "$warm" ] && left_behind; then
      echo "wine-run: the run left processes running in its session, now ended: $left" >&2
      [ "$status" -ne 0 ] || status=125
    fi
  fi
  if [ -z "$warm" ] || [ "$status" -ne 0 ]; then
    [ -z "$keep" ] || cp -a "$prefix" "$run/kept"
    end_session "$name"
  fi
  echo "$status" >"$run/status"
}

# Runs are found in one listing of runs/ when the host's wake-up line arrives on the second serial
# port, and once a second without one; the running ones are checked once a second. (Every look at
# the share is a trip into qemu: five a second cost 4% of a processor, and a run waited 0.1 s on
# average to be seen.) A run is started once: its folder stays listed until its caller has read
# the status and removed it. A warm session serves one run at a time: session_of[ID] is the run's,
# busy[NAME] the session's run, kind[NAME] its kind.
declare -A seen running job beat since session_of busy kind
warm_sessions=0
end_run() {  # ID: the run and its session ended; its caller is told 137
  end_cgroup "run-$1"
  end_session "${session_of[$1]}"
  [ -e "$dir/runs/$1/status" ] || echo 137 >"$dir/runs/$1/status" 2>/dev/null
  forget "$1"
}
forget() {  # ID: the run is over; its session, if still there, is free
  local name=${session_of[$1]}
  rmdir "$cgroups/run-$1" 2>/dev/null
  unset 'busy[$name]'
  [ -e "$sessions/$name/ready" ] || unset 'kind[$name]'
  unset 'running[$1]' 'job[$1]' 'beat[$1]' 'since[$1]' 'session_of[$1]'
}
finished() { [ -e "$dir/runs/$1/status" ] || [ ! -d "$dir/runs/$1" ]; }  # ID
# Sets $name to a free warm session of KIND, or to the name of a new one. Runs that have ended
# free their sessions first: a case often comes right after the last one ended.
warm_session() {  # KIND
  local id
  for id in "${!running[@]}"; do ! finished "$id" || forget "$id"; done
  for name in "${!kind[@]}"; do
    [ "${kind[$name]}" = "$1" ] && [ -z "${busy[$name]:-}" ] && return
  done
  warm_sessions=$((warm_sessions + 1))
  name=warm-$warm_sessions
}
start_run() {  # ID
  local name=fresh-$1 mode=fresh this value
  setting "$dir/runs/$1/how" warm
  if [ "$value" = 1 ]; then
    kind_of_run "$1"
    warm_session "$this"
    mode=warm kind[$name]=$this busy[$name]=$1
  fi
  session_of[$1]=$name seen[$1]=1 running[$1]=1 since[$1]=$SECONDS beat[$1]=
  mkdir -p "$cgroups/run-$1"
  run_one "$1" "$name" "$mode" &
  job[$1]=$!
}

mkdir -p "$sessions"
# Should the second serial port not open, the folder is looked at five times a second instead.
wake_fd=$nap_fd wait=0.2
if stty -F /dev/ttyS1 raw -echo 2>/dev/null && exec {wake_fd}</dev/ttyS1; then wait=1; fi
touch "$dir/ready"
looked=
until [ -e "$dir/stop" ]; do
  for run in "$dir"/runs/*; do
    id=${run##*/}
    [ -z "${seen[$id]:-}" ] && [ -f "$run/how" ] || continue
    start_run "$id"
  done
  if [ "$SECONDS" != "$looked" ]; then
    looked=$SECONDS
    for id in "${!running[@]}"; do
      run=$dir/runs/$id
      if finished "$id"; then
        forget "$id"
        continue
      fi
      now=
      read -r now 2>/dev/null <"$run/beat"
      if [ "$now" != "${beat[$id]}" ]; then beat[$id]=$now since[$id]=$SECONDS; fi
      if [ -e "$run/cancel" ] || [ $((SECONDS - since[$id])) -gt 15 ]; then
        end_run "$id"
      elif ! kill -0 "${job[$id]}" 2>/dev/null && ! finished "$id"; then
        echo "wine-run: the machine's dispatcher lost this run" >>"$run/stderr"
        end_run "$id"
      fi
    done
  fi
  read -r -t "$wait" -u "$wake_fd" _ || :
done
for id in "${!running[@]}"; do end_run "$id"; done
sync
echo o >/proc/sysrq-trigger
sleep 60
