#!/usr/bin/env bash
# Installs what building, running and testing the tool need, from Debian's packages.
# Does nothing when everything is there already. qemu only where 32-bit code cannot run natively.
set -euo pipefail

packages=(
  cmake make python3 python3-pefile        # build, and the check of the built files
  git                                      # the reproducibility check builds the tracked sources
  g++-mingw-w64-i686-posix                 # the 32-bit build: the release, and the tests that run it
  googletest                               # its sources, built with the cross compilers
  mmdebstrap bubblewrap                    # the Debian 13 root with Wine 10 that runs them (wine-root.sh)
  uidmap                                   # mmdebstrap run by a user with sudo: its user namespace
  imagemagick                              # screenshots of the run command, as PNG
  osslsigncode openssl libengine-pkcs11-openssl  # signing a release, with a key in a file or on a PKCS#11 token
  softhsm2                                 # a PKCS#11 token for the signing test
)

# A machine that cannot run 32-bit code runs Wine in a virtual machine, which qemu emulates.
needed() {
  local package missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
needed "${packages[@]}"
"$(dirname "$0")/wine/runs-32bit-code.py" || needed qemu-system-x86 e2fsprogs
