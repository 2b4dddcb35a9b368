#!/usr/bin/python3
"""The host driver: how every Windows program here reaches Wine (scripts/wine-run.sh calls it).

  wine-run.sh [--bind DIR]... [--host-display] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]
Runs PROGRAM (under Wine) or COMMAND (which finds the prefix in $WINEPREFIX) in the Wine root that
scripts/wine-root.sh makes, in a prefix that is a fresh layer over the template, and exits with its
exit code. The checkout, the program's folder and every --bind DIR are visible inside at their own
paths; the rest of this machine is not. --host-display shows windows on this machine's $DISPLAY
(bwrap only).

  wine-run.sh --template
Prints the folder of the prefix template, made first when it is missing.

  wine-run.sh --shared-machine [--bind DIR]... [--] COMMAND [ARGUMENTS...]
Runs COMMAND (CTest) with one virtual machine booted for the whole of it, where Wine needs one: each
run of wine-run.sh that COMMAND starts hands its program to that machine, which runs it in a warm
session, one that served earlier runs of its kind (or in a fresh one of its own, with
QELPAD_FRESH_SESSION=1). Where 32-bit code runs here, COMMAND simply runs. When the machine ends
during COMMAND, it exits with 75 once COMMAND has ended (the cases it ran then have failed without a
machine), else with COMMAND's exit code.

Where this machine runs 32-bit code, a run enters the root with bwrap (scripts/wine/sandbox.sh).
Elsewhere it boots the root in a virtual machine that qemu emulates, with the root and the template
as read-only disks (ext4 images made once beside them) and the bound folders shared over 9p, and
hands the run to the machine's dispatcher (scripts/wine/dispatcher.sh, whose head tables the
hand-off). docs/harness.md says what this costs and why it is built so.

QELPAD_WINE_TEMPLATE  the prefix template (default: in the cache beside the Wine root, named by what
                      makes it); made on first use
QELPAD_KEEP_PREFIX    a folder to keep the used prefix in, for a look afterwards (a fresh session)
QELPAD_FRESH_SESSION  1: a fresh session of its own also beside the shared machine
QELPAD_SCREEN_DPI     the screen's scale in dots per inch (96 unless set)
QELPAD_NO_DISPLAY     1: no X display; windows are made by Wine's null display driver
QELPAD_LOCALE         the locale inside (LC_ALL), e.g. zh_CN.UTF-8; the root has it, this machine need not
QELPAD_WINE_VM        1: always use the virtual machine; 0: never (default: when 32-bit code cannot run)
QELPAD_VM_CPUS        processors of a virtual machine (default: this machine's)
QELPAD_WINE_MACHINE   set by --shared-machine: the folder through which runs reach the shared machine
"""
import contextlib
import fcntl
import functools
import gzip
import hashlib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SCRIPTS = HERE.parent
CHECKOUT = SCRIPTS.parent
WINE = "/usr/lib/wine/wine64"
# The template's recipe besides the root: the settings it imports, and how it is made.
TEMPLATE_SETTINGS = ("prefix.reg", "font-links.reg")
TEMPLATE_VERSION = "v4"
# What a made template must hold: its registry, and the 64-bit and 32-bit system DLLs that every
# process loads (wineboot can end with 0 without them: seen under load, a syswow64 of three files;
# kept, such a template would fail every later run with c0000135).
TEMPLATE_FILES = ("system.reg", "drive_c/windows/system32/kernel32.dll", "drive_c/windows/syswow64/kernel32.dll",
                  "drive_c/windows/syswow64/user32.dll")
# What of this machine's environment reaches Wine and the tests inside.
PASSED_ON = re.compile(r"QELPAD_[A-Z0-9_]*|WINE[A-Z]*|LC_[A-Z]*|LANG")
# How long a run's caller may stay silent before the machine ends the run: its heartbeat's period.
BEAT_SECONDS = 1.0
# The exit code of --shared-machine when its machine ended during the command.
MACHINE_ENDED = 75
# How many times a machine that ends while it starts is started.
BOOT_ATTEMPTS = 3


class Failure(Exception):
    """The harness could not run the program; exit code 125, as for a program that could not start."""


def say(message):
    print(f"wine-run: {message}", file=sys.stderr, flush=True)


def runs_32bit_code():
    return subprocess.run([sys.executable, HERE / "runs-32bit-code.py"]).returncode == 0


@functools.cache
def use_vm():
    """Whether Wine runs in the virtual machine here: asked once a run (the probe is a process)."""
    choice = os.environ.get("QELPAD_WINE_VM", "")
    return choice == "1" or (choice != "0" and not runs_32bit_code())


@contextlib.contextmanager
def output_to(path):
    """This process's standard output and error, and its children's, go to PATH while the block runs."""
    sys.stdout.flush()
    sys.stderr.flush()
    saved = [os.dup(1), os.dup(2)]
    with open(path, "w") as log:
        os.dup2(log.fileno(), 1)
        os.dup2(log.fileno(), 2)
    try:
        yield
    finally:
        sys.stdout.flush()
        sys.stderr.flush()
        for fd, copy in zip((1, 2), saved):
            os.dup2(copy, fd)
            os.close(copy)


@contextlib.contextmanager
def locked(path):
    """Holds an exclusive lock on PATH (made when missing) while the block runs."""
    with open(path, "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def wine_root():
    """The root's folder and the virtual machine's initramfs, both made first when missing."""
    lines = subprocess.run([SCRIPTS / "wine-root.sh"], stdout=subprocess.PIPE, text=True)
    if lines.returncode != 0:
        raise Failure("the Wine root could not be made")
    root, initrd = lines.stdout.split()
    return Path(root), Path(initrd)


# ---- Disk images ----------------------------------------------------------------------------------

def make_image(folder, image, as_mmdebstrap=False):
    """An ext4 image of FOLDER for a read-only disk of the virtual machine, made once beside it.

    A user who is not root makes the root's image as the root of a user namespace with mmdebstrap's
    own mapping (the user's first block of subordinate ids from 0, the user beyond it), which reads
    the root's files and owns them in the image as mmdebstrap wrote them; the template's files are
    the user's own."""
    if image.exists() and image.stat().st_size:
        return
    as_root = []
    if os.getuid() != 0 and as_mmdebstrap:
        as_root = ["unshare", "--map-auto", "--map-user=65536", "--map-group=65536", "--setuid", "0", "--setgid", "0"]
    kb = int(subprocess.run(as_root + ["du", "-sk", folder], stdout=subprocess.PIPE, text=True).stdout.split()[0])
    files = subprocess.run(as_root + ["find", folder], stdout=subprocess.PIPE).stdout.count(b"\n")
    partial = image.with_name(image.name + ".tmp")
    log = image.with_name(image.name + ".log")
    partial.write_bytes(b"")
    with open(log, "w") as out:
        made = subprocess.run(as_root + ["/sbin/mke2fs", "-q", "-F", "-t", "ext4", "-O", "^has_journal,^metadata_csum",
                                         "-m", "0", "-b", "4096", "-N", str(files + 10000), "-d", folder, partial,
                                         f"{kb * 11 // 10 + 65536}k"], stdout=out, stderr=out)
    if made.returncode != 0:
        partial.unlink()
        raise Failure(f"could not make the disk image {image} (see {log})")
    log.unlink()
    partial.rename(image)


def root_image(root):
    image = Path(f"{root}.img")
    with locked(f"{image}.lock"):
        make_image(root, image, as_mmdebstrap=True)
    return image


# ---- The virtual machine --------------------------------------------------------------------------

def passed_on_environment(**changes):
    """NAME=VALUE of what reaches the machine, sorted (the dispatcher reads a session's kind from it)."""
    env = {name: value for name, value in os.environ.items() if PASSED_ON.fullmatch(name)}
    env.update(changes)
    return sorted(f"{name}={value}" for name, value in env.items() if value is not None)


class Machine:
    """A virtual machine booted on a folder of this machine (the hand-off folder), which its
    dispatcher watches for runs."""

    def __init__(self, folder, pid=None, process=None):
        self.folder = Path(folder)
        self.pid = pid if pid else process.pid
        self.process = process

    @classmethod
    def boot(cls, folder, root, initrd, memory_mb, binds, template=None):
        """Boots the root on FOLDER with the images of the root and (when given) of the template as
        read-only disks, and BINDS and FOLDER shared at their own paths; waits until it is ready."""
        folder = Path(folder)
        boot = folder / "boot"
        (folder / "runs").mkdir(parents=True, exist_ok=True)
        boot.mkdir(exist_ok=True)
        lines = ["set -u", "export PATH=/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                 'share() { mkdir -p "$2" && mount -t 9p -o "trans=virtio,version=9p2000.L,msize=512000$3" "$1" "$2"; }']
        devices = []
        for tag, path in enumerate(binds):
            lines.append(f"share b{tag} {shlex.quote(str(path))} ,cache=loose")
            devices += ["-virtfs", f"local,path={path},mount_tag=b{tag},security_model=none"]
        if template:
            lines.append("for _ in $(seq 100); do [ -b /dev/vdb ] && break; sleep 0.05; done")
            lines.append(f"mkdir -p {shlex.quote(str(template))} && mount -t ext4 -o ro /dev/vdb {shlex.quote(str(template))}")
            devices += ["-drive", f"file={template}.img,if=virtio,format=raw,readonly=on"]
        lines.append(f"share machine {shlex.quote(str(folder))} ''")
        devices += ["-virtfs", f"local,path={folder},mount_tag=machine,security_model=none"]
        # The wake-up line (see wake()): the machine's second serial port reads what is written to
        # wake.in, and what the machine writes to it goes to wake.out, which nobody reads.
        for end in ("wake.in", "wake.out"):
            if not (folder / end).exists():
                os.mkfifo(folder / end)
        devices += ["-chardev", f"pipe,id=wake,path={folder}/wake", "-serial", "chardev:wake"]
        # Should the dispatcher ever end otherwise than by powering off, the console says how.
        lines.append(f"/bin/bash /run/machine/dispatcher.sh {shlex.quote(str(folder))}")
        lines.append('echo "wine-run: the dispatcher ended with status $?"; echo o >/proc/sysrq-trigger; sleep 60')
        (boot / "boot.sh").write_text("\n".join(lines) + "\n")
        # The kernel reads concatenated archives as one: the root's initramfs, then this boot's script.
        archive = subprocess.run([root / "usr/bin/busybox", "cpio", "-o", "-H", "newc"], cwd=boot, input=b"boot.sh\n",
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout
        (boot / "initrd.img").write_bytes(initrd.read_bytes() + gzip.compress(archive, mtime=0))
        # It ends with this driver, also when the driver is killed. The kernel's settings are
        # explained in docs/harness.md.
        command = [
            "setpriv", "--pdeathsig", "KILL", "--", "qemu-system-x86_64", "-machine", "q35", "-accel", "tcg,thread=multi",
            "-smp", os.environ.get("QELPAD_VM_CPUS", str(os.cpu_count())), "-m", str(memory_mb),
            "-cpu", "qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+cx16", "-display", "none", "-nic", "none", "-no-reboot",
            "-serial", f"file:{boot}/console.log", "-kernel", root / "opt/qelpad-vm/vmlinuz", "-initrd", boot / "initrd.img",
            "-append", "console=ttyS0 quiet loglevel=3 panic=-1 norandmaps mitigations=off tsc=reliable",
            "-drive", f"file={root}.img,if=virtio,format=raw,readonly=on", *devices]
        # A machine that ends while it starts (rarely, a kernel's fault under emulation; its console
        # says which) is started again; one that does not start in time is not.
        for attempt in range(1, BOOT_ATTEMPTS + 1):
            machine = cls(folder, process=subprocess.Popen(command))
            deadline = time.monotonic() + 300
            while not (folder / "ready").exists():
                if not machine.alive() or time.monotonic() > deadline:
                    break
                time.sleep(0.1)
            else:
                return machine
            ended = not machine.alive()
            machine.kill()
            if not ended or attempt == BOOT_ATTEMPTS:
                raise Failure("the virtual machine did not start; its console:\n" + machine.console())
            say(f"the virtual machine ended while it started ({exit_status(machine.process.returncode)});"
                f" starting it again; its console:\n{machine.console()}")

    def alive(self):
        if self.process:
            return self.process.poll() is None
        # Known by its pid alone (the shared machine): a qemu that has ended stays a zombie until the
        # driver that booted it reaps it, and a zombie takes signals.
        try:
            state = Path(f"/proc/{self.pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
        except (OSError, IndexError):
            return False
        return state != "Z"

    def console(self):
        try:
            return "\n".join((self.folder / "boot/console.log").read_text(errors="replace").splitlines()[-20:])
        except OSError:
            return "(none)"

    def wake(self):
        """Tells the machine's dispatcher to look at the hand-off folder now: a line on its second
        serial port. It looks once a second by itself, so a wake-up that cannot be written (the
        machine ended, or is not reading) is left out."""
        with contextlib.suppress(OSError):
            end = os.open(self.folder / "wake.in", os.O_WRONLY | os.O_NONBLOCK)
            try:
                os.write(end, b"\n")
            finally:
                os.close(end)

    def stop(self):
        """Asks the machine to power off, and waits for it (ending it after a minute)."""
        (self.folder / "stop").touch()
        self.wake()
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.kill()

    def kill(self):
        self.process.kill()
        self.process.wait()

    def run(self, argv, env, how):
        """Hands ARGV to the machine and waits for it, beating once a second; prints its output and
        returns its exit code. When this driver is interrupted, the machine is asked to end the run;
        when it is killed, its beat stops and the machine ends the run by itself."""
        runs = self.folder / "runs"
        new = Path(tempfile.mkdtemp(dir=runs, prefix=".new."))
        (new / "argv").write_bytes(b"".join(os.fsencode(arg) + b"\0" for arg in argv))
        (new / "env").write_bytes(b"".join(os.fsencode(entry) + b"\0" for entry in env))
        (new / "how").write_text("".join(f"{key}={value}\n" for key, value in how.items()))
        run = runs / new.name[len(".new."):]
        new.rename(run)
        self.wake()
        try:
            beats, next_beat = 0, 0.0
            while not status_of(run).endswith("\n"):
                if not self.alive():
                    break
                if time.monotonic() >= next_beat:
                    beats += 1
                    (run / "beat").write_text(f"{beats}\n")
                    next_beat = time.monotonic() + BEAT_SECONDS
                time.sleep(0.02)  # a look here costs next to nothing; the run's end is seen at once
        except BaseException:
            (run / "cancel").touch()
            self.wake()
            raise
        for name, stream in (("stdout", sys.stdout.buffer), ("stderr", sys.stderr.buffer)):
            with contextlib.suppress(OSError):
                stream.write((run / name).read_bytes())
            stream.flush()
        status = status_of(run).strip()
        if not status:
            say("the virtual machine ended without an exit code; its console:\n" + self.console())
        keep = os.environ.get("QELPAD_KEEP_PREFIX")
        if keep and (run / "kept").is_dir():
            shutil.rmtree(keep, ignore_errors=True)
            shutil.move(run / "kept", keep)
        shutil.rmtree(run, ignore_errors=True)
        return int(status) if status else 125


def status_of(run):
    """What the machine has written of RUN's status so far: the exit code and a newline once it is
    whole (it writes them in one write, so a look may find the file there but still empty)."""
    try:
        return (run / "status").read_text()
    except OSError:
        return ""


class SharedMachine:
    """What a run learns of the machine that --shared-machine booted: its folder, its qemu, the
    template it was booted with and the folders it shares."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.machine = Machine(self.folder, pid=int((self.folder / "pid").read_text()))
        self.template = Path((self.folder / "template").read_text().strip())
        self.shared = [Path(line) for line in (self.folder / "shared").read_text().splitlines()]

    @classmethod
    def from_environment(cls):
        folder = os.environ.get("QELPAD_WINE_MACHINE")
        if not folder or not (Path(folder) / "pid").exists() or (Path(folder) / "stop").exists():
            return None
        return cls(folder)

    def sees(self, binds):
        return all(any(bind == shared or shared in bind.parents for shared in self.shared) for bind in binds)


# ---- The template ---------------------------------------------------------------------------------

def template_for(root, vm):
    """The template's folder in the cache, named by what makes it: the root, the way it is entered
    and its settings. Templates of roots that are gone are removed."""
    made = hashlib.sha256(f"{root} {'vm' if vm else ''} {TEMPLATE_VERSION}\n".encode())
    for name in TEMPLATE_SETTINGS:
        made.update((HERE / name).read_bytes())
    cache = root.parent
    for old in cache.glob("wine-template-*/"):
        mark = old / ".wine-root"
        if mark.is_file() and not Path(mark.read_text().split()[0]).is_dir():
            shutil.rmtree(old, ignore_errors=True)
            for suffix in (".img", ".lock", ".log"):
                Path(f"{old}{suffix}").unlink(missing_ok=True)
    return cache / f"wine-template-{made.hexdigest()[:16]}"


def prepare_template(template, root, initrd, vm, binds):
    """Makes the template once, under a lock, so that parallel runs wait for the first: wineboot,
    then the settings, with no display setting, DPI or locale of the caller's."""
    with locked(f"{template}.lock"):
        if not (template / ".wine-root").is_file():
            partial = Path(f"{template}.tmp")
            shutil.rmtree(partial, ignore_errors=True)
            partial.mkdir(parents=True)
            windows = []
            for name in TEMPLATE_SETTINGS:
                text = (HERE / name).read_text().replace("\n", "\r\n")
                (partial / name).write_bytes(text.encode("utf-16"))
                windows.append("Z:" + str(partial / name).replace("/", "\\"))
            command = ["/bin/sh", "-c", '"$1" wineboot --init && "$1" regedit /S "$2" && "$1" regedit /S "$3"', "sh",
                       WINE, *windows]
            env = passed_on_environment(WINEPREFIX=str(partial), QELPAD_NO_DISPLAY=None, QELPAD_SCREEN_DPI=None,
                                        QELPAD_LOCALE=None, QELPAD_KEEP_PREFIX=None)
            with output_to(f"{template}.log"):
                status = enter_root(command, env, root, initrd, vm, binds + [partial], template=None)
            missing = [name for name in TEMPLATE_FILES if not (partial / name).is_file()]
            if status != 0 or missing:
                left_out = f" ({', '.join(missing)} missing)" if missing else ""
                raise Failure(f"wineboot or regedit failed in {partial}{left_out} (see {template}.log)")
            for name in TEMPLATE_SETTINGS:
                (partial / name).unlink()
            (partial / ".wine-root").write_text(f"{root} {'vm' if vm else ''}\n")
            shutil.rmtree(template, ignore_errors=True)
            Path(f"{template}.img").unlink(missing_ok=True)
            partial.rename(template)
        if vm:
            make_image(template, Path(f"{template}.img"))


# ---- Entering the root ----------------------------------------------------------------------------

def enter_root(argv, env, root, initrd, vm, binds, template, host_display=False):
    """Runs ARGV in a session of its own: with bwrap, or in a virtual machine booted for it alone.
    The prefix is a fresh layer over TEMPLATE, or WINEPREFIX of ENV as it is."""
    if vm:
        with tempfile.TemporaryDirectory(prefix="qelpad-vm.") as folder:
            machine = Machine.boot(folder, root, initrd, 3072, binds, template)
            try:
                return machine.run(argv, env, how(template))
            finally:
                machine.stop()
    with contextlib.ExitStack() as cleanup:
        options = [option for bind in binds for option in ("--bind", str(bind))]
        if host_display:
            options.append("--host-display")
        if template:
            runs = Path(f"{template}.runs")
            runs.mkdir(exist_ok=True)
            scratch = Path(cleanup.enter_context(tempfile.TemporaryDirectory(dir=runs, prefix="run.")))
            options += ["--bind", str(scratch), "--layer-over", str(template), str(scratch)]
            env = [entry for entry in env if not entry.startswith("WINEPREFIX=")] + [f"WINEPREFIX={scratch}/prefix"]
        full = dict(os.environ)
        full.update(entry.split("=", 1) for entry in env)
        return subprocess.run([HERE / "sandbox.sh", root, *options, "--", *argv], env=full).returncode


def how(template, warm=False):
    """The run's lines in the hand-off (see the dispatcher)."""
    keep = "1" if os.environ.get("QELPAD_KEEP_PREFIX") else ""
    return {"warm": "1" if warm else "", "template": template or "", "user": f"{os.getuid()}:{os.getgid()}",
            "cwd": os.getcwd(), "keep": keep}


# ---- The commands ---------------------------------------------------------------------------------

def end_group(process):
    """Asks every process of the group that PROCESS leads to end, gives them 10 s to clean up after
    themselves, then kills what is left."""
    try:
        os.killpg(process.pid, signal.SIGTERM)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            time.sleep(0.2)
            process.poll()  # the leader, once ended, is no longer counted
            os.killpg(process.pid, 0)
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def exit_status(code):
    return f"killed by signal {-code}" if code < 0 else f"exit code {code}"


def shared_machine(command, root, initrd, template, binds):
    """Boots one machine for the whole of COMMAND, which finds it through QELPAD_WINE_MACHINE."""
    with tempfile.TemporaryDirectory(prefix="qelpad-machine.") as folder:
        started = time.monotonic()
        machine = Machine.boot(folder, root, initrd, 6144, binds, template)
        try:
            (machine.folder / "shared").write_text("".join(f"{bind}\n" for bind in binds))
            (machine.folder / "template").write_text(f"{template}\n")
            (machine.folder / "pid").write_text(f"{machine.pid}\n")
            say(f"one virtual machine for this run, up in {time.monotonic() - started:.0f} s")
            # A machine that ends while the command runs is said at once, with how it ended. The
            # command runs in a process group of its own: if this driver is interrupted, all of it
            # is ended (CTest's cases that run on this machine, such as the release checks, too).
            with subprocess.Popen(command, env=dict(os.environ, QELPAD_WINE_MACHINE=folder),
                                  process_group=0) as process:
                try:
                    while True:
                        try:
                            return process.wait(timeout=1)
                        except subprocess.TimeoutExpired:
                            pass
                        if not machine.alive():
                            say(f"the virtual machine ended during the run ({exit_status(machine.process.returncode)});"
                                f" its console:\n{machine.console()}")
                            process.wait()
                            return MACHINE_ENDED
                except BaseException:
                    end_group(process)
                    raise
        finally:
            machine.stop()


def run_program(argv, binds, host_display):
    """One program or command, in the shared machine when there is one that sees its folders (in a
    warm session, unless it asks for one of its own), else in a session of its own."""
    env = passed_on_environment(WINEPREFIX=None)
    shared = SharedMachine.from_environment()
    if shared and (os.environ.get("QELPAD_WINE_TEMPLATE") or not shared.sees(binds)):
        shared = None  # a template of its own, or a folder that machine does not share
    if host_display and (shared or use_vm()):
        say("the virtual machine has no access to this display; using Xvfb")
        host_display = False
    if shared:
        fresh = os.environ.get("QELPAD_FRESH_SESSION") or os.environ.get("QELPAD_KEEP_PREFIX")
        return shared.machine.run(argv, env, how(shared.template, warm=not fresh))
    root, initrd, vm, template = prepared(binds)
    return enter_root(argv, env, root, initrd, vm, binds, template, host_display)


def prepared(binds):
    """The root, its initramfs, whether the virtual machine is needed, and the template, each made
    first when missing."""
    vm = use_vm()
    if vm and not shutil.which("qemu-system-x86_64"):
        raise Failure("this machine cannot run 32-bit code, and qemu is missing (scripts/install-deps.sh)")
    root, initrd = wine_root()
    if vm:
        root_image(root)
    template = Path(os.environ.get("QELPAD_WINE_TEMPLATE") or template_for(root, vm)).resolve()
    template.parent.mkdir(parents=True, exist_ok=True)
    prepare_template(template, root, initrd, vm, binds)
    return root, initrd, vm, template


def parse(args):
    binds, flags = [CHECKOUT], set()
    while args:
        if args[0] == "--bind":
            binds.append(Path(os.path.realpath(args[1])))
            args = args[2:]
        elif args[0] in ("--host-display", "--shared-machine", "--template"):
            flags.add(args[0])
            args = args[1:]
        elif args[0] == "--":
            args = args[1:]
            break
        else:
            break
    return binds, flags, args


def main(args):
    binds, flags, argv = parse(args)
    if "--template" in flags:
        print(prepared(binds)[3])
        return 0
    if not argv:
        say("usage: wine-run.sh [--bind DIR]... [--host-display | --shared-machine] [--] PROGRAM.exe|COMMAND [ARGUMENTS...]")
        return 2
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=")
    if "--shared-machine" in flags:
        if not use_vm():
            os.execvp(argv[0], argv)  # where bwrap runs Wine, every run is cheap already
        root, initrd, _, template = prepared(binds)
        return shared_machine(argv, root, initrd, template, binds)
    if argv[0].lower().endswith(".exe"):
        argv[0] = os.path.realpath(argv[0])
        binds.append(Path(argv[0]).parent)
    return run_program(argv, binds, "--host-display" in flags)


def on_signal(number, _frame):
    raise SystemExit(128 + number)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        sys.exit(main(sys.argv[1:]))
    except Failure as failure:
        say(str(failure))
        sys.exit(125)
