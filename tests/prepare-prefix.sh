#!/usr/bin/env bash
# Prepares a Wine prefix for running the tool and its tests, in the Wine root: booted once, then
# copied per run. Does nothing when DIR is ready for the current root; concurrent calls wait for
# the one that prepares it. With COPY, then makes COPY a fresh prefix from it: the registry files
# copied, the drive hard-linked (runs only add and delete files, never rewrite them), or copied
# where links cannot be made (another file system).
#   tests/prepare-prefix.sh DIR [COPY]
# No window manager runs under Xvfb, so windows are unmanaged (else every close waits ~2 s).
# The Chinese fonts the tool asks for are mapped to an installed font that has the glyphs,
# for message boxes and window captions too.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
copy=${2:+$(realpath -m "$2")}
# 宋体 and 新宋体: a Song face with their metrics (12 px cells at 9 pt), so the notice fits as designed.
song_face="AR PL SungtiL GB"
# Captions and message boxes: Chinese glyphs linked behind the system's Latin faces.
link_fonts=("uming.ttc,AR PL UMing CN" "wqy-microhei.ttc,WenQuanYi Micro Hei")

wine_root=$("$here/../scripts/wine-root.sh")
exec 9>"$dir.lock"
flock 9
if ! { [ -f "$dir/system.reg" ] && [ "$(cat "$dir/.wine-root" 2>/dev/null)" = "$wine_root" ]; }; then
  rm -rf "$dir.tmp"
  mkdir -p "$dir.tmp"
  export WINEPREFIX=$dir.tmp WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="

  reg_file=$dir.tmp/settings.reg
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="Y"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for face in "宋体" "新宋体" "SimSun" "NSimSun"; do
      printf '"%s"="%s"\r\n' "$face" "$song_face"
    done
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Microsoft Sans Serif"; do
      printf '"%s"=hex(7):%s\r\n' "$face" "$(printf '%s\0' "${link_fonts[@]}" | { cat; printf '\0'; } | iconv -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//')"
    done
    printf '\r\n'
  } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg_file"
  "$here/../scripts/wine-sandbox.sh" --bind "$dir.tmp" -- /bin/sh -c \
    '/usr/lib/wine/wine64 wineboot --init && /usr/lib/wine/wine64 regedit /S "$1"' \
    sh "Z:${reg_file//\//\\}" >/dev/null 2>&1 ||
    { echo "prepare-prefix: wineboot or regedit failed in $dir.tmp" >&2; exit 1; }
  rm -f "$reg_file"
  [ -f "$dir.tmp/system.reg" ] || { echo "prepare-prefix: $dir.tmp has no registry" >&2; exit 1; }
  echo "$wine_root" >"$dir.tmp/.wine-root"
  rm -rf "$dir"
  mv "$dir.tmp" "$dir"
fi
flock -u 9

if [ -n "$copy" ]; then
  mkdir -p "$copy"
  find "$dir" -mindepth 1 -maxdepth 1 ! -name drive_c -exec cp -a {} "$copy/" \;
  cp -al "$dir/drive_c" "$copy/drive_c" 2>/dev/null || { rm -rf "$copy/drive_c"; cp -a "$dir/drive_c" "$copy/drive_c"; }
fi
