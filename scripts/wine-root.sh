#!/usr/bin/env bash
# Prints the folder of the Wine that runs the tool and its tests, making it first when it is missing:
# a Debian 13 root with Wine 10 (64-bit) and the i386 PE DLLs of the same Wine beside it, so that
# 32-bit programs run in Wine's WoW64 mode, as the release runs on 64-bit Windows.
#   scripts/wine-root.sh
# QELPAD_CACHE  where roots are kept (default ~/.cache/qelpad); one folder per recipe, reused until
#               the recipe below changes.
#
# Everything comes from Debian's archive. The machine's own apt configuration is never touched and
# no i386 package is installed: the i386 .deb is downloaded inside the new root and only unpacked.
# mmdebstrap's unshare mode keeps its mounts in a namespace of its own, so an interrupted run leaves
# no mount behind, only a ".partial" folder that the next run removes.
set -euo pipefail

suite=trixie
mirror=http://deb.debian.org/debian
packages=(
  wine64 libwine                # Wine 10, 64-bit, with its WoW64 layer
  xvfb x11-utils                # a display without a screen (xwd for screenshots)
  fontconfig fonts-arphic-gbsn00lp fonts-arphic-uming fonts-wqy-microhei  # Chinese text
)
# Unpacked after the install: the PE DLLs of the 32-bit Wine, where the 64-bit Wine looks for them.
i386_package=libwine:i386
i386_dlls_from=usr/lib/i386-linux-gnu/wine/i386-windows
i386_dlls_to=usr/lib/x86_64-linux-gnu/wine/i386-windows

recipe="$suite $mirror ${packages[*]} $i386_package $i386_dlls_from $i386_dlls_to v1"
key=$(printf '%s' "$recipe" | sha256sum | cut -c1-16)
cache=${QELPAD_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/qelpad}
root=$cache/wine-root-$key

mkdir -p "$cache"
exec 9>"$root.lock"
flock 9
if [ ! -x "$root/usr/lib/wine/wine64" ]; then
  command -v mmdebstrap >/dev/null || { echo "wine-root: mmdebstrap is missing (scripts/install-deps.sh)" >&2; exit 1; }
  rm -rf "$root.partial" "$root"
  echo "wine-root: making a Debian 13 root with Wine 10 in $root (about a minute)" >&2
  started=$SECONDS
  mmdebstrap --mode=unshare --variant=minbase --architectures=amd64,i386 \
    --include="$(IFS=,; echo "${packages[*]}")" \
    --customize-hook='chroot "$1" sh -c "cd /tmp && apt-get download -q '"$i386_package"'"' \
    --customize-hook='dpkg-deb -x "$1"/tmp/libwine_*_i386.deb "$1/tmp/i386"' \
    --customize-hook='mkdir -p "$1/'"$i386_dlls_to"'" && cp -a "$1/tmp/i386/'"$i386_dlls_from"'/." "$1/'"$i386_dlls_to"'/"' \
    --customize-hook='rm -rf "$1"/tmp/* "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
    "$suite" "$root.partial" "$mirror" >"$cache/wine-root-$key.log" 2>&1 ||
    { tail -n 30 "$cache/wine-root-$key.log" >&2; rm -rf "$root.partial"; echo "wine-root: mmdebstrap failed" >&2; exit 1; }
  [ -f "$root.partial/$i386_dlls_to/kernel32.dll" ] ||
    { rm -rf "$root.partial"; echo "wine-root: the i386 DLLs did not arrive" >&2; exit 1; }
  mv "$root.partial" "$root"
  echo "wine-root: made in $((SECONDS - started)) s" >&2
  # Roots of older recipes are not needed any more.
  find "$cache" -mindepth 1 -maxdepth 1 -name 'wine-root-*' ! -name "wine-root-$key*" -exec rm -rf {} +
fi
echo "$root"
