#!/usr/bin/env bash
# The release: the tool and its console companion, built from scratch by the release preset in a folder
# of its own and checked, signed with Authenticode when a key is given, and put with the administrators'
# guide (deployment.md), their SHA256SUMS and BUILDINFO (the commit, the version and the tools it was built
# with) into build/release/ (or the folder given), which is replaced whole in one step.
#   scripts/release.sh [--allow-changes] [KEY OPTIONS] [OUTPUT_FOLDER]
#
# A release is built from a commit: a tree with changes that are not committed (modified or staged files,
# or new files that git does not ignore) is refused, and nothing is written.
#   --allow-changes        build such a tree all the same; the script says so, and BUILDINFO names the
#                          commit "with changes" and lists them
#
# The key (without one the exe is published unsigned, and the script says so):
#   --pkcs12 FILE          a PKCS#12 file holding the code-signing key and its certificate chain; or
#   --pkcs11-module FILE   a PKCS#11 token: its module (e.g. /usr/lib/x86_64-linux-gnu/opensc-pkcs11.so),
#   --pkcs11-key ID        the key on it (its id or a pkcs11: URI),
#   --pkcs11-cert ID       and its certificate on the token, or instead
#   --certs FILE           the certificate chain in a PEM file
#   --password-file FILE   the PKCS#12 password or the token's PIN, alone in FILE (a final line break is
#                          ignored); or set it in the environment as QELPAD_SIGN_PASSWORD. Never on the
#                          command line.
#   --timestamp URL        an RFC 3161 time-stamp server, so the signature stays valid after the certificate
#                          expires (several: the first that answers)
#   --ca FILE              the root certificates the signature must chain to when it is verified here
#                          (default: the system's, /etc/ssl/certs/ca-certificates.crt; a time stamp is
#                          always checked against the system's)
#
# After signing it verifies each signature and checks that each exe with its signature removed is the
# reproducible build byte for byte; if anything fails it writes nothing to the output folder.
# The build is reproducible (tests/release/reproducible.sh): the commit built with the tools BUILDINFO names
# gives the same bytes, so anyone can rebuild it and compare.
#
# For tests only: QELPAD_RELEASE_BUILT=FOLDER (e.g. build/win32) takes the two exes there as the build
# instead of building the release preset; BUILDINFO then says that they were not built by the release.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# What the signature says of the program, as the version block names it (InternalName) and the notice
# names the maker's site. osslsigncode writes the description as an ASCII (IA5) string, so the Chinese
# ProductName would reach Windows' elevation prompt garbled.
readonly kDescription="Qelpad80Remover"
readonly kSite="https://www.tavrex.com"
readonly kExes=(Qelpad80Remover.exe Qelpad80RemoverCli.exe)
# What administrators read beside the exes: the exit codes, and how deployment systems run the companion.
readonly kGuide=deployment.md
readonly kReleaseFiles=("${kExes[@]}" "$kGuide" SHA256SUMS BUILDINFO)
# The packages of the toolchain (install-deps.sh): GCC names itself only as 12-posix, the package exactly.
readonly kToolchainPackages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686 cmake)

fail() { echo "release: $*" >&2; exit 1; }
usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" >&2; exit 2; }

pkcs12= pkcs11_module= pkcs11_key= pkcs11_cert= certs= password_file= ca= output= allow_changes=
timestamps=()
while [ $# -gt 0 ]; do
  case $1 in
    --pkcs12 | --pkcs11-module | --pkcs11-key | --pkcs11-cert | --certs | --password-file | --timestamp | --ca)
      [ $# -ge 2 ] || fail "$1 needs a value"
      case $1 in
        --pkcs12) pkcs12=$2 ;;
        --pkcs11-module) pkcs11_module=$2 ;;
        --pkcs11-key) pkcs11_key=$2 ;;
        --pkcs11-cert) pkcs11_cert=$2 ;;
        --certs) certs=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp) timestamps+=("$2") ;;
        --ca) ca=$2 ;;
      esac
      shift 2 ;;
    --allow-changes) allow_changes=yes; shift ;;
    --pass | --password | -pass)
      fail "a password is never given on the command line: use --password-file FILE or QELPAD_SIGN_PASSWORD" ;;
    -h | --help) usage ;;
    -*) echo "release: unknown option $1" >&2; usage ;;
    *) [ -z "$output" ] || usage; output=$1; shift ;;
  esac
done
output=$(realpath -m "${output:-$root/build/release}")
# Files are named from where the script was started; it works from the top of the repository.
absolute() { [ -z "$1" ] || realpath -m -- "$1"; }
pkcs12=$(absolute "$pkcs12") pkcs11_module=$(absolute "$pkcs11_module") certs=$(absolute "$certs")
password_file=$(absolute "$password_file") ca=$(absolute "$ca")
built=$(absolute "${QELPAD_RELEASE_BUILT:-}")

# The password stays out of the environment of everything this script starts.
password=${QELPAD_SIGN_PASSWORD-}
have_password_env=${QELPAD_SIGN_PASSWORD+yes}
unset QELPAD_SIGN_PASSWORD

# Every input is checked before the build, so a mistyped name costs no build.
need_file() { [ -f "$2" ] && [ -r "$2" ] || fail "$1 $2: no such readable file; nothing was written to $output"; }
signing=
if [ -n "$pkcs12" ]; then
  [ -z "$pkcs11_module$pkcs11_key$pkcs11_cert$certs" ] ||
    fail "--pkcs12 holds the key and its certificates: give no PKCS#11 options or --certs with it"
  need_file --pkcs12 "$pkcs12"
  signing=pkcs12
elif [ -n "$pkcs11_module$pkcs11_key$pkcs11_cert" ]; then
  [ -n "$pkcs11_module" ] && [ -n "$pkcs11_key" ] || fail "a PKCS#11 key needs --pkcs11-module and --pkcs11-key"
  { [ -n "$pkcs11_cert" ] && [ -z "$certs" ]; } || { [ -z "$pkcs11_cert" ] && [ -n "$certs" ]; } ||
    fail "a PKCS#11 key needs its certificate: --pkcs11-cert ID or --certs FILE, one of them"
  need_file --pkcs11-module "$pkcs11_module"
  [ -z "$certs" ] || need_file --certs "$certs"
  signing=pkcs11
elif [ -n "$certs$password_file$ca$have_password_env" ] || [ ${#timestamps[@]} -gt 0 ]; then
  fail "signing options without a key: give --pkcs12 FILE or --pkcs11-module and --pkcs11-key"
fi
if [ -n "$signing" ]; then
  [ -z "$password_file" ] || [ -z "$have_password_env" ] ||
    fail "give the password one way: --password-file or QELPAD_SIGN_PASSWORD"
  [ -z "$password_file" ] || need_file --password-file "$password_file"
  ca=${ca:-/etc/ssl/certs/ca-certificates.crt}
  need_file --ca "$ca"
fi

# The release folder is replaced whole, so it may hold nothing but a previous release.
if [ -e "$output" ]; then
  [ -d "$output" ] || fail "$output is not a folder; nothing was written to it"
  foreign=$(shopt -s nullglob dotglob; cd "$output" && for entry in *; do
    [ -f "$entry" ] && [[ " ${kReleaseFiles[*]} " == *" $entry "* ]] || printf ' %s' "$entry"; done)
  [ -z "$foreign" ] || fail "$output holds more than a release (${foreign# }): give a new folder; nothing was written"
fi

"$root/scripts/install-deps.sh"

# What is released: a commit, and with --allow-changes the changes to it that are not committed.
[ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$(cd "$root" && pwd -P)" ] &&
  commit=$(git -C "$root" rev-parse --verify HEAD) ||
  fail "$root is not a git checkout with a commit: a release names its commit; nothing was written to $output"
changes=$(git -C "$root" --no-optional-locks status --porcelain) ||
  fail "git cannot tell the changes of $root; nothing was written to $output"
if [ -n "$changes" ] && [ -z "$allow_changes" ]; then
  { echo "release: the tree has changes that are not committed:"; sed 's/^/release:   /' <<<"$changes"; } >&2
  fail "a release names the commit it was built from: commit them, or give --allow-changes;" \
    "nothing was written to $output"
elif [ -n "$changes" ]; then
  echo "release: --allow-changes: building $commit WITH changes that are not committed:"
  sed 's/^/release:   /' <<<"$changes"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-release.XXXXXX")
staging= aside=
cleanup() {
  rm -rf "$scratch"
  # The new release did not take its place: it goes, and the previous one stays or comes back.
  if [ -n "$staging" ]; then
    rm -rf "$staging"
    if [ -n "$aside" ] && [ -e "$output" ]; then rmdir "$aside"
    elif [ -n "$aside" ]; then mv -T "$aside" "$output"
    fi
  fi
}
trap cleanup EXIT
mkdir "$scratch/unsigned" "$scratch/signed"
unsigned=$scratch/unsigned

# The reproducible build, checked as a user's Windows will read it.
cd "$root"
if [ -z "$built" ]; then
  built=$scratch/win32
  cmake --preset release -B "$built" >"$scratch/build.log" 2>&1 &&
    cmake --build "$built" -j2 --target "${kExes[@]%.exe}" >>"$scratch/build.log" 2>&1 ||
    { tail -n 30 "$scratch/build.log" >&2; fail "the build failed; nothing was written to $output"; }
fi
for exe in "${kExes[@]}"; do
  cp "$built/$exe" "$unsigned/$exe" || fail "$built/$exe is missing; nothing was written to $output"
done
# The version the build was given (project(VERSION)), which the exes must carry.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$built/CMakeCache.txt" 2>/dev/null) && [ -n "$version" ] ||
  fail "$built/CMakeCache.txt gives no CMAKE_PROJECT_VERSION; nothing was written to $output"
/usr/bin/python3 scripts/check_pe.py --expected-version "$version" "${kExes[@]/#/i386=$unsigned/}" ||
  fail "the PE check failed; nothing was written to $output"

sign() {  # UNSIGNED SIGNED
  local key=()
  if [ "$signing" = pkcs12 ]; then
    key=(-pkcs12 "$pkcs12")
  else
    key=(-pkcs11module "$pkcs11_module" -key "$pkcs11_key")
    if [ -n "$pkcs11_cert" ]; then key+=(-pkcs11cert "$pkcs11_cert"); else key+=(-certs "$certs"); fi
  fi
  local stamp=()
  for url in ${timestamps[@]+"${timestamps[@]}"}; do stamp+=(-ts "$url"); done
  local command=(osslsigncode sign "${key[@]}" -h sha256 -n "$kDescription" -i "$kSite" ${stamp[@]+"${stamp[@]}"}
    -in "$1" -out "$2")
  # The password reaches osslsigncode through a file or its standard input, never its arguments.
  if [ -n "$password_file" ]; then
    "${command[@]}" -readpass "$password_file"
  elif [ -n "$have_password_env" ]; then
    printf '%s' "$password" | "${command[@]}" -readpass /dev/stdin
  else
    "${command[@]}" </dev/null
  fi
}

published=$unsigned
if [ -n "$signing" ]; then
  published=$scratch/signed
  for exe in "${kExes[@]}"; do
    sign "$unsigned/$exe" "$published/$exe" >"$scratch/sign.log" 2>&1 || {
      cat "$scratch/sign.log" >&2
      fail "signing failed (wrong password or PIN, or not a code-signing key?); nothing was written to $output"
    }
    chmod 0755 "$published/$exe"
    osslsigncode verify -CAfile "$ca" -in "$published/$exe" >"$scratch/verify.log" 2>&1 || {
      cat "$scratch/verify.log" >&2
      fail "the signature of $exe does not verify against $ca; nothing was written to $output"
    }
    rm -f "$scratch/removed.exe"
    osslsigncode remove-signature -in "$published/$exe" -out "$scratch/removed.exe" >"$scratch/remove.log" 2>&1 &&
      cmp -s "$scratch/removed.exe" "$unsigned/$exe" || {
      cat "$scratch/remove.log" >&2
      fail "the signed $exe without its signature is not the reproducible build; nothing was written to $output"
    }
    { grep -m1 'Subject:' "$scratch/verify.log"; grep -E 'description:|Timestamp|verification:' "$scratch/verify.log"; } |
      sed "s/^[[:space:]]*/release: $exe: signature: /"
  done
  /usr/bin/python3 scripts/check_pe.py --expected-version "$version" "${kExes[@]/#/i386=$published/}" ||
    fail "the PE check of the signed exes failed; nothing was written to $output"
fi

# What the exes were built from and with: the same commit built with the same tools gives the same bytes.
first_line() { "$@" | sed -n 1p; }
compiler=$(first_line i686-w64-mingw32-g++-posix --version) && binutils=$(first_line i686-w64-mingw32-ld --version) &&
  cmake=$(first_line cmake --version) &&
  packages=$(dpkg-query -W -f='${Package} ${Version}, ' "${kToolchainPackages[@]}" | sed 's/, $//') ||
  fail "the versions of the tools could not be read; nothing was written to $output"
build_info() {
  echo "version: $version"
  if [ -z "$changes" ]; then
    echo "commit: $commit"
    echo "changes: none"
  else
    echo "commit: $commit with changes"
    echo "changes: not committed, released with --allow-changes:"
    sed 's/^/  /' <<<"$changes"
  fi
  if [ -n "${QELPAD_RELEASE_BUILT:-}" ]; then
    echo "built: not by this release: the exes were taken as they were from $built (QELPAD_RELEASE_BUILT," \
      "for tests), so the commit and the tools named here need not be theirs"
  else
    echo "built: by scripts/release.sh from that tree, with the release preset in a new folder"
  fi
  echo "compiler: $compiler"
  echo "binutils: $binutils"
  echo "cmake: $cmake"
  echo "packages: $packages"
}

# Only now is anything written. The release folder is replaced whole, in one rename, so that it is always
# the previous release or the new one, never a part: the new one is written beside it, the previous one is
# moved aside, the new one takes its name, and only then is the previous one deleted.
cp "$root/docs/$kGuide" "$published/$kGuide"
(cd "$published" && sha256sum "${kExes[@]}" "$kGuide" >SHA256SUMS)
build_info >"$published/BUILDINFO"
mkdir -p "$(dirname "$output")"
staging=$(mktemp -d "$(dirname "$output")/.$(basename "$output").new.XXXXXX")
chmod "$(umask -S)" "$staging"
for file in "${kReleaseFiles[@]}"; do cp "$published/$file" "$staging/$file"; done
if [ -e "$output" ]; then
  aside=$(mktemp -d "$(dirname "$output")/.$(basename "$output").old.XXXXXX")
  mv -T "$output" "$aside"
fi
mv -T "$staging" "$output"
staging=
rm -rf "$aside"
for exe in "${kExes[@]}"; do
  if [ -n "$signing" ]; then
    echo "release: $output/$exe ($(stat -c %s "$output/$exe") bytes), signed; without its signature it is the"
    echo "release: reproducible build, $(stat -c %s "$unsigned/$exe") bytes, sha256 $(sha256sum "$unsigned/$exe" | cut -d' ' -f1)"
  else
    echo "release: $output/$exe ($(stat -c %s "$output/$exe") bytes) is UNSIGNED: Windows will name no publisher."
  fi
done
[ -n "$signing" ] || echo "release: give a key to sign them (scripts/release.sh --help)."
[ -z "$changes" ] || echo "release: built WITH changes that are not committed (--allow-changes): see BUILDINFO."
sed 's/^/release: BUILDINFO: /' "$output/BUILDINFO"
cat "$output/SHA256SUMS"
