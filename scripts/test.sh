#!/usr/bin/env bash
# Builds the win32 preset (the release with its tests, warnings as errors) and runs every test with
# CTest, the checks of the release among them (ctest -L release); exits non-zero on any failure. It
# ends with CTest's summary and the check that no test changed the Wine prefix template.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# As many Wine cases at once as the machine has processors (QELPAD_TEST_JOBS), and the cases that
# read the screen one at a time (tests/CMakeLists.txt); the release checks that build on the host
# run beside them.
jobs=${QELPAD_TEST_JOBS:-$(nproc)}

scripts/install-deps.sh
cmake --preset win32 -DQELPAD_WINE_SLOTS="$jobs" >/dev/null
cmake --build --preset win32 -j2
# The Wine root the tests run in, and the template of their prefixes: made once, kept in a cache
# folder outside the checkout.
scripts/wine-root.sh >/dev/null
template=$(scripts/wine-run.sh --template)
# Everything that running could change of a file or folder, for the whole template.
template_state() { find "$template" -printf '%P %y %s %m %i %T@ %C@\n' | LC_ALL=C sort | sha256sum; }
before=$(template_state)

# Where Wine runs in a virtual machine that qemu emulates (this machine cannot run 32-bit code), one
# machine is booted for the whole run, and it runs each case in a warm session that served earlier
# cases; docs/harness.md says why. Where bwrap runs Wine, each case gets a fresh session of its own.
ctest=(ctest --preset win32 -j$((jobs + 2)))
status=0
if scripts/wine/runs-32bit-code.py; then
  "${ctest[@]}" || status=$?
else
  echo "test: this machine cannot run 32-bit code; Wine runs in one virtual machine that qemu emulates (slower)"
  scripts/wine-run.sh --shared-machine -- "${ctest[@]}" || status=$?
  # The machine itself can end during a run (rarely; its console is printed): the cases that failed
  # then run again, once, in a new one.
  if [ "$status" -eq 75 ]; then
    echo "test: the virtual machine ended during the run; the cases that failed run again in a new one"
    status=0
    scripts/wine-run.sh --shared-machine -- "${ctest[@]}" --rerun-failed || status=$?
  fi
fi
if [ "$(template_state)" = "$before" ]; then
  echo "test: the prefix template is as it was before the run ($template)"
else
  echo "test: FAILED: the run changed the prefix template $template" >&2
  status=1
fi
exit "$status"
