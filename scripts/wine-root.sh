#!/usr/bin/env bash
# Prints the folder of the Wine that runs the tool and its tests, making it first when it is missing:
# a Debian 13 root with Wine 10 (64-bit) and the i386 PE DLLs of the same Wine beside it, so that
# 32-bit programs run in Wine's WoW64 mode, as the release runs on 64-bit Windows. The root also
# holds a Linux kernel and its modules, for machines that cannot run 32-bit code themselves
# (scripts/wine-run.sh then boots the root in a virtual machine); on its second line it prints that
# machine's initramfs, made beside the root from the root's busybox and modules and the machine's
# own programs in scripts/wine/ (its first process, its dispatcher, the session).
#   scripts/wine-root.sh
# QELPAD_CACHE  where roots are kept (default ~/.cache/qelpad); one folder per recipe, reused until
#               the recipe below changes. An initramfs is remade when the machine's programs change.
#
# Everything comes from Debian's archive as this machine's own apt configuration reaches it (its
# mirror and proxy). That configuration is never changed and no i386 package is installed: the
# i386 .deb and the kernel are downloaded inside the new root and only unpacked. mmdebstrap's
# unshare mode keeps its mounts in a namespace of its own, so an interrupted run leaves no mount
# behind, only a ".partial" folder that the next run removes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

suite=trixie
packages=(
  wine64 libwine                # Wine 10, 64-bit, with its WoW64 layer
  xvfb x11-utils                # a display without a screen (xwd for screenshots)
  fonts-wine                    # Wine's own fonts: Tahoma, and Marlett for the title bars' buttons
  fontconfig fonts-arphic-gbsn00lp fonts-arphic-uming fonts-wqy-microhei  # Chinese text
  busybox-static                # the virtual machine's initramfs
  locales                       # zh_CN.UTF-8, the locale of the Windows the tool is made for
)
# Unpacked after the install: the PE DLLs of the 32-bit Wine, where the 64-bit Wine looks for them.
i386_package=libwine:i386
i386_dlls_from=usr/lib/i386-linux-gnu/wine/i386-windows
i386_dlls_to=usr/lib/x86_64-linux-gnu/wine/i386-windows
# ... each DLL then given an address of its own, where Wine maps it without relocating it
# (wine/rebase-dlls.py says why); the program's digest is part of the recipe.
rebase=$(sha256sum "$here/wine/rebase-dlls.py" | cut -c1-16)
# The kernel of the virtual machine, and the modules its initramfs loads to reach the root.
vm_dir=opt/qelpad-vm
# (each with the modules it needs; virtio_pci is built in)
vm_modules="virtio_blk crc32c_generic ext4 overlay 9pnet_virtio 9p"

# The machine's own programs, in its initramfs: its first process (as /init) and what that hands on.
# launcher.c is built into launcher.exe there.
machine_files=(vm-init.sh dispatcher.sh session.sh font-links.reg launcher.c)

recipe="$suite ${packages[*]} $i386_package $i386_dlls_from $i386_dlls_to rebase-$rebase $vm_dir $vm_modules v3"
key=$(printf '%s' "$recipe" | sha256sum | cut -c1-16)
cache=${QELPAD_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/qelpad}
root=$cache/wine-root-$key

# Debian's main archive as this machine's apt reaches it, and its proxy if it has one.
debian_archive() {
  # The suite without a suffix (not -updates, not -security), read from the sources themselves.
  apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' \
    'Component: main' 2>/dev/null | awk '$2 !~ /-/ { print $1; exit }'
}

# The virtual machine's kernel, and the modules that reach the root (each after those it needs, in
# modules/order), unpacked. Run by mmdebstrap, with the new root's tools, after the kernel package
# has been unpacked in its /tmp/kernel.
if [ "${1:-}" = --kernel ]; then
  new=$2
  to=$new/$vm_dir
  modules=$(echo "$new"/tmp/kernel/usr/lib/modules/*)
  mkdir -p "$to/modules"
  cp "$new"/tmp/kernel/boot/vmlinuz-* "$to/vmlinuz"
  add_module() {  # NAME, after the modules it needs (its .modinfo says which)
    local name=$1 file dep
    grep -qx "$name" "$to/modules/order" 2>/dev/null && return
    file=$(find "$modules" \( -name "$name.ko*" -o -name "${name//_/-}.ko*" \) | head -n 1)
    if [ -z "$file" ]; then
      grep -q "/\($name\|${name//_/-}\)\.ko\$" "$modules/modules.builtin" && return
      echo "wine-root: no kernel module $name" >&2
      exit 1
    fi
    case $file in
      *.xz) chroot "$new" busybox unxz -c "${file#"$new"}" >"$to/modules/$name.ko" ;;
      *) cp "$file" "$to/modules/$name.ko" ;;
    esac
    for dep in $(tr '\0' '\n' <"$to/modules/$name.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
      add_module "$dep"
    done
    echo "$name" >>"$to/modules/order"
  }
  for module in $vm_modules; do add_module "$module"; done
  exit 0
fi

# The machine's initramfs: busybox, the modules, and the machine's programs in /machine, with
# vm-init.sh as /init. Made beside the root, named by what it holds; older ones are removed.
initramfs() {
  local ikey file tree
  ikey=$(cd "$here/wine" && cat "${machine_files[@]}" | sha256sum | cut -c1-16)
  file=$root.initrd-$ikey.img
  if [ ! -s "$file" ]; then
    tree=$(mktemp -d "$cache/initramfs.XXXXXX")
    mkdir -p "$tree/bin" "$tree/machine"
    cp "$root/usr/bin/busybox" "$tree/bin/busybox"
    cp -r "$root/$vm_dir/modules" "$tree/modules"
    (cd "$here/wine" && cp "${machine_files[@]}" "$tree/machine/")
    mv "$tree/machine/vm-init.sh" "$tree/init"
    i686-w64-mingw32-gcc-posix -std=c11 -O2 -Wall -Wextra -Werror -s -o "$tree/machine/launcher.exe" \
      "$tree/machine/launcher.c" >&2 || { rm -rf "$tree"; echo "wine-root: launcher.c did not build" >&2; exit 1; }
    rm "$tree/machine/launcher.c"
    chmod 0755 "$tree/init"
    (cd "$tree" && find . | LC_ALL=C sort | "$root/usr/bin/busybox" cpio -o -H newc 2>/dev/null) |
      gzip -n -1 >"$file.tmp" && mv "$file.tmp" "$file"
    rm -rf "$tree"
    find "$cache" -maxdepth 1 -name "wine-root-$key.initrd-*" ! -name "${file##*/}" -delete
  fi
  echo "$file"
}

mkdir -p "$cache"
exec 9>"$root.lock"
flock 9
if [ ! -x "$root/usr/lib/wine/wine64" ] || [ ! -f "$root/$vm_dir/modules/order" ]; then
  command -v mmdebstrap >/dev/null || { echo "wine-root: mmdebstrap is missing (scripts/install-deps.sh)" >&2; exit 1; }
  archive=$(debian_archive)
  [ -n "$archive" ] || { echo "wine-root: this machine's apt knows no Debian archive (apt-get indextargets)" >&2; exit 1; }
  options=()
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  [ -z "${proxy:-}" ] || options+=(--aptopt="Acquire::http::Proxy \"$proxy\"")
  rm -rf "$root.partial" "$root"
  echo "wine-root: making a Debian 13 root with Wine 10 in $root (about a minute)" >&2
  started=$SECONDS
  mmdebstrap --mode=unshare --variant=minbase --architectures=amd64,i386 "${options[@]}" \
    --include="$(IFS=,; echo "${packages[*]}")" \
    --customize-hook='chroot "$1" sh -c "cd /tmp && apt-get download -q '"$i386_package"'"' \
    --customize-hook='dpkg-deb -x "$1"/tmp/libwine_*_i386.deb "$1/tmp/i386"' \
    --customize-hook='mkdir -p "$1/'"$i386_dlls_to"'" && cp -a "$1/tmp/i386/'"$i386_dlls_from"'/." "$1/'"$i386_dlls_to"'/"' \
    --customize-hook='/usr/bin/python3 "'"$here/wine/rebase-dlls.py"'" "$1/'"$i386_dlls_to"'"' \
    --customize-hook='chroot "$1" sh -c "cd /tmp && apt-get download -q \$(apt-cache depends linux-image-amd64 | sed -n \"s/.*Depends: \\(linux-image-[0-9].*\\)/\\1/p\")"' \
    --customize-hook='dpkg-deb -x "$1"/tmp/linux-image-*.deb "$1/tmp/kernel"' \
    --customize-hook='"'"$here/wine-root.sh"'" --kernel "$1"' \
    --customize-hook='echo "zh_CN.UTF-8 UTF-8" >"$1/etc/locale.gen" && chroot "$1" locale-gen' \
    --customize-hook='rm -rf "$1"/tmp/i386 "$1"/tmp/kernel "$1"/tmp/*.deb' \
    --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages' \
    "$suite" "$root.partial" "$archive" >"$cache/wine-root-$key.log" 2>&1 ||
    { tail -n 30 "$cache/wine-root-$key.log" >&2; rm -rf "$root.partial"; echo "wine-root: mmdebstrap failed" >&2; exit 1; }
  [ -f "$root.partial/$i386_dlls_to/kernel32.dll" ] ||
    { rm -rf "$root.partial"; echo "wine-root: the i386 DLLs did not arrive" >&2; exit 1; }
  [ -f "$root.partial/$vm_dir/modules/order" ] && [ -f "$root.partial/$vm_dir/vmlinuz" ] ||
    { rm -rf "$root.partial"; echo "wine-root: the virtual machine's kernel did not arrive" >&2; exit 1; }
  mv "$root.partial" "$root"
  echo "wine-root: made in $((SECONDS - started)) s" >&2
  # Roots of older recipes are not needed any more.
  find "$cache" -mindepth 1 -maxdepth 1 -name 'wine-root-*' ! -name "wine-root-$key*" -exec rm -rf {} +
fi
echo "$root"
initramfs
