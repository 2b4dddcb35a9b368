#!/usr/bin/env bash
# Signed releases, with a throw-away root and code-signing certificate made here: scripts/release.sh signs
# the exes the tests run (the tool and its console companion); each signature verifies and one flipped byte
# breaks it; each exe without its signature is the build again; the PE check reads the signature's table;
# the signed tool shows its window under the test Wine; a key on a PKCS#11 token (SoftHSM) signs too; and
# a bad key stops the script without touching the release folder.
#   tests/release/signing.sh EXE WINDOW_TESTS_EXE [EMULATOR...]
# EXE is the tool; its console companion is taken from beside it.
# The release goes to signed-release/ beside WINDOW_TESTS_EXE, where the window test starts it. Prints a
# line a check; exits 1 if one failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
unsigned=$(realpath "$1")
window_tests=$(realpath "$2")
shift 2
emulator=("$@")
[ ${#emulator[@]} -gt 0 ] || emulator=("$root/scripts/wine-run.sh")
release=$(dirname "$window_tests")/signed-release
exe=Qelpad80Remover.exe
console=Qelpad80RemoverCli.exe
built=$(dirname "$unsigned")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$built/CMakeCache.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/qelpad-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/check.sh"
# The checkout may hold work that is not committed while the tests run: these releases are about signing,
# so they allow it (reproducible.sh checks what a release says of its commit).
release() {  # ARGUMENTS...: scripts/release.sh on the exe under test, its output in $work/release.log
  QELPAD_RELEASE_BUILT="$built" "$root/scripts/release.sh" --allow-changes "$@" >"$work/release.log" 2>&1
  local status=$?
  cat "$work/release.log"
  return "$status"
}
says() { grep -q -F -- "$1" "$work/release.log" || { echo "expected the message: $1"; return 1; }; }
folder_state() { (cd "$release" && ls -la --time-style=+%s.%N . && sha256sum -- *) 2>&1; }

# A root, a code-signing certificate it issued, the two in a PKCS#12 file with a password, the key also on a
# SoftHSM token of this run; and a second root that issued nothing here.
export SOFTHSM2_CONF=$work/softhsm2.conf
(
  cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Qelpad Test Root" -keyout root.key -out root.pem \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Unrelated Root" -keyout other.key -out other.pem &&
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Tavrex Test Publisher" -keyout signer.key -out signer.csr &&
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
      >signer.ext &&
    openssl x509 -req -days 2 -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -extfile signer.ext \
      -out signer.pem &&
    printf 'throw-away password\n' >password &&
    printf 'not the password\n' >wrong-password &&
    openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -passout file:password \
      -out signer.p12 &&
    mkdir tokens && printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\n' "$work" >softhsm2.conf &&
    softhsm2-util --init-token --free --label qelpad-test --pin 2468 --so-pin 1357 &&
    openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.p8 &&
    softhsm2-util --import signer.p8 --token qelpad-test --label signer --id 01 --pin 2468 &&
    printf '2468\n' >pin && printf '1111\n' >wrong-pin
) >"$work/keys.log" 2>&1 || { cat "$work/keys.log"; echo "FAIL could not make the throw-away keys"; exit 1; }

rm -rf "$release"
check "without a key the release is the build, and says it is unsigned" \
  eval 'release "$release" && cmp "$release/$exe" "$unsigned" && cmp "$release/$console" "$built/$console" &&
        says "is UNSIGNED"'

check "with a PKCS#12 key and its password in a file the release is signed; SHA256SUMS lists it and the guide" \
  eval 'release --pkcs12 "$work/signer.p12" --password-file "$work/password" --ca "$work/root.pem" "$release" &&
        ! cmp -s "$release/$exe" "$unsigned" && (cd "$release" && sha256sum --strict -c SHA256SUMS) &&
        [ "$(cut -d" " -f3 "$release/SHA256SUMS" | tr "\n" " ")" = "$exe $console deployment.md " ] &&
        cmp "$release/deployment.md" "$root/docs/deployment.md"'
check "both signatures verify against the throw-away root, signed by the test publisher" \
  eval 'osslsigncode verify -CAfile "$work/root.pem" -in "$release/$exe" | tee "$work/verify.log" &&
        grep -q "Subject: /CN=Tavrex Test Publisher" "$work/verify.log" &&
        osslsigncode verify -CAfile "$work/root.pem" -in "$release/$console" | tee "$work/verify.log" &&
        grep -q "Subject: /CN=Tavrex Test Publisher" "$work/verify.log"'

# One byte of the code, well inside the image and before the signature, inverted.
cp "$release/$exe" "$work/flipped.exe"
byte=$(od -An -tu1 -j4242 -N1 "$work/flipped.exe")
printf "\\$(printf %03o $((byte ^ 0xff)))" | dd of="$work/flipped.exe" bs=1 seek=4242 conv=notrunc status=none
check "one flipped byte in the signed exe fails verification" \
  eval '[ "$(cmp -l "$work/flipped.exe" "$release/$exe" | wc -l)" = 1 ] &&
        ! osslsigncode verify -CAfile "$work/root.pem" -in "$work/flipped.exe"'

check "each signed exe without its signature is the build byte for byte" \
  eval 'osslsigncode remove-signature -in "$release/$exe" -out "$work/removed.exe" &&
        cmp "$work/removed.exe" "$unsigned" &&
        osslsigncode remove-signature -in "$release/$console" -out "$work/removed-console.exe" &&
        cmp "$work/removed-console.exe" "$built/$console"'

# Bytes hidden in the signature's entry after the PKCS#7 data (the entry and the table grown to hold them).
/usr/bin/python3 - "$release/$exe" "$work/stuffed.exe" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe_header = struct.unpack_from("<I", data, 0x3C)[0]
magic = struct.unpack_from("<H", data, pe_header + 24)[0]
security = pe_header + 24 + (96 if magic == 0x10B else 112) + 4 * 8
offset = struct.unpack_from("<I", data, security)[0]
data += b"not signed, but inside the table"
struct.pack_into("<I", data, security + 4, len(data) - offset)
struct.pack_into("<I", data, offset, len(data) - offset)
open(sys.argv[2], "wb").write(data)
EOF
check "the PE check accepts the signed exe, and refuses it with bytes hidden after the signature" \
  eval '/usr/bin/python3 "$root/scripts/check_pe.py" --expected-version "$version" "i386=$release/$exe" &&
        ! /usr/bin/python3 "$root/scripts/check_pe.py" --expected-version "$version" "i386=$work/stuffed.exe"'

check "the signed exe starts and shows its window under the test Wine" \
  eval 'QELPAD_APP_EXE="signed-release\\$exe" "${emulator[@]}" "$window_tests" \
          --gtest_filter=MainWindow.ShowsTheFinalTextsFromTheFirstMoment | tee "$work/window.log" &&
        grep -q -F "AppProcess: starting " "$work/window.log" && grep -q -F "signed-release\\$exe" "$work/window.log" &&
        grep -q -F "[  PASSED  ] 1 test" "$work/window.log"'

# Each of these stops the script with its message and leaves the release as it was.
before=$(folder_state)
unchanged() { [ "$(folder_state)" = "$before" ] || { echo "the release folder changed:"; folder_state; return 1; }; }
check "a wrong password in the password file stops it" \
  eval '! release --pkcs12 "$work/signer.p12" --password-file "$work/wrong-password" --ca "$work/root.pem" "$release" &&
        says "signing failed (wrong password" && unchanged'
check "the password in QELPAD_SIGN_PASSWORD signs too, and a wrong one there stops it" \
  eval 'QELPAD_SIGN_PASSWORD="throw-away password" release --pkcs12 "$work/signer.p12" --ca "$work/root.pem" \
          "$work/from-environment" &&
        osslsigncode verify -CAfile "$work/root.pem" -in "$work/from-environment/$exe" &&
        ! QELPAD_SIGN_PASSWORD=wrong release --pkcs12 "$work/signer.p12" --ca "$work/root.pem" "$release" &&
        says "signing failed (wrong password" && unchanged'
token_release() {  # PIN_FILE OUTPUT_FOLDER
  release --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
    --pkcs11-key "pkcs11:token=qelpad-test;object=signer;type=private" --certs "$work/signer.pem" \
    --password-file "$1" --ca "$work/root.pem" "$2"
}
check "a key on a PKCS#11 token signs too, and a wrong PIN stops it" \
  eval 'token_release "$work/pin" "$work/from-token" &&
        osslsigncode verify -CAfile "$work/root.pem" -in "$work/from-token/$exe" &&
        ! token_release "$work/wrong-pin" "$release" && says "signing failed (wrong password or PIN" && unchanged'
check "a missing key file stops it" \
  eval '! release --pkcs12 "$work/missing.p12" --password-file "$work/password" --ca "$work/root.pem" "$release" &&
        says "--pkcs12 $work/missing.p12: no such readable file" && unchanged'
check "a missing password file stops it" \
  eval '! release --pkcs12 "$work/signer.p12" --password-file "$work/missing" --ca "$work/root.pem" "$release" &&
        says "--password-file $work/missing: no such readable file" && unchanged'
check "a signature that does not chain to the given root stops it" \
  eval '! release --pkcs12 "$work/signer.p12" --password-file "$work/password" --ca "$work/other.pem" "$release" &&
        says "does not verify against $work/other.pem" && unchanged'
exit "$failed"
