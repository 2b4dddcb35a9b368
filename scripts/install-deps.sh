#!/usr/bin/env bash
# Installs what building, running and testing the tool need, from Debian's packages.
# Does nothing when everything is there already.
set -euo pipefail

packages=(
  cmake make python3 python3-pefile        # build, and the check of the built files
  g++-mingw-w64-x86-64-posix               # the 64-bit build (tests run it)
  g++-mingw-w64-i686-posix                 # the 32-bit release build
  googletest                               # its sources, built with the cross compilers
  wine wine64                              # /usr/lib/wine/wine64 runs the 64-bit build
  xvfb x11-utils imagemagick               # a display without a screen, and screenshots
  fonts-arphic-gbsn00lp fonts-arphic-uming fonts-wqy-microhei  # Chinese text
  osslsigncode openssl libengine-pkcs11-openssl  # signing a release, with a key in a file or on a PKCS#11 token
  softhsm2                                 # a PKCS#11 token for the signing test
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
