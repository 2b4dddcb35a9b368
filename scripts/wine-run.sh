#!/bin/sh
# How every Windows program here reaches Wine: CTest runs each test case through it (the toolchain
# file's emulator), and so do the run command, the benchmark, the signing test and a person running
# one case by hand. The host driver, scripts/wine/host.py, says how it is used.
exec /usr/bin/python3 "$(dirname "$0")/wine/host.py" "$@"
