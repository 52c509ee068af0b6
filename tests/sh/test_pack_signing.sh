#!/usr/bin/env bash
# A setup built by kavlapack can be Authenticode-signed afterwards: the end
# marker stops the reader, so the signature appended behind the payload is
# never read as a record. Builds a setup from the dist Setup.exe and a few
# payload files, signs it with osslsigncode and a throwaway self-signed
# certificate, checks the signature, and checks that the signed setup lists
# and extracts the same files, byte for byte.
set -euo pipefail

for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done
dist=${KAVLA_DIST_DIR:?}
[ -f "$dist/Setup.exe" ] && [ -f "$dist/kavlapack.exe" ] || { echo "FAIL: no Setup.exe or kavlapack.exe in $dist"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kavla_sign.XXXXXX")
prefix=$work/prefix
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

# Windows view of a Linux path: the Z: drive of every Wine prefix.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
tool() { # kavlapack under Wine, CR LF output as LF
  "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$KAVLA_ARCH" --keep "$prefix" "$dist/kavlapack.exe" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
fail() { echo "FAIL: $*"; exit 1; }

# Payload: random content, every byte value, an empty file, a small text;
# no programs and no component container, so it is built and checked with
# --allow-incomplete.
mkdir -p "$work/payload"
head -c 300000 /dev/urandom > "$work/payload/Qt.7z"
for i in $(seq 0 255); do printf "\\$(printf '%03o' "$i")"; done > "$work/payload/bytes.bin"
: > "$work/payload/empty.cfg"
printf 'component\n' > "$work/payload/KavlaComponent.exe"

# 1. Build (one Wine run).
tool build "$(winpath "$dist/Setup.exe")" "$(winpath "$work/Setup.exe")" "$(winpath "$work/payload")" \
  --allow-incomplete > "$work/build.txt" || fail "kavlapack build: $(cat "$work/build.txt")"
[ -f "$work/Setup.exe" ] || fail "no Setup.exe built"
ls "$work" | grep -q '\.tmp$' && fail "a temporary file was left beside the output"

# 2. Sign with a throwaway certificate and check the signature.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Kavla Setup test signer" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Kavla Setup" -h sha256 \
  -in "$work/Setup.exe" -out "$work/Setup-signed.exe" > "$work/sign.txt" 2>&1 \
  || fail "osslsigncode sign: $(cat "$work/sign.txt")"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/Setup-signed.exe" > "$work/verify.txt" 2>&1 \
  || fail "osslsigncode verify: $(cat "$work/verify.txt")"
grep -q 'Signature verification: ok' "$work/verify.txt" || fail "signature not verified"
built=$(stat -c %s "$work/Setup.exe"); signed=$(stat -c %s "$work/Setup-signed.exe")
[ "$signed" -gt "$built" ] || fail "the signed setup is not longer than the built one"
# The payload itself is unchanged by signing.
cmp -s <(tail -c +3300001 "$work/Setup.exe") <(tail -c +3300001 "$work/Setup-signed.exe" | head -c $((built - 3300000))) \
  || fail "signing changed the payload bytes"

# 3. The signed setup extracts (and lists, extract prints the records).
tool extract "$(winpath "$work/Setup-signed.exe")" "$(winpath "$work/out")" > "$work/extract.txt" \
  || fail "kavlapack extract of the signed setup: $(cat "$work/extract.txt")"
expected=$(printf 'KavlaComponent.exe\t10\nQt.7z\t300000\nbytes.bin\t256\nempty.cfg\t0\n^Kavla_end^\t(end marker)\n# 4 files, 300266 bytes, container at offset 3300000, ends with the end marker')
[ "$(cat "$work/extract.txt")" = "$expected" ] || fail "records of the signed setup: $(cat "$work/extract.txt")"
for f in Qt.7z bytes.bin empty.cfg KavlaComponent.exe; do
  cmp "$work/payload/$f" "$work/out/$f" || fail "$f differs after extraction"
done
[ "$(ls "$work/out" | wc -l)" -eq 4 ] || fail "unexpected files extracted: $(ls "$work/out")"

if [ "${KAVLA_EMULATED:-0}" = 1 ]; then
  echo "PASS (x86: build and extract only, each Wine run is slow under emulation)"
  exit 0
fi

# 4. list and verify give the same records for the built and the signed setup.
tool list "$(winpath "$work/Setup.exe")" > "$work/list-built.txt" || fail "list of the built setup"
tool list "$(winpath "$work/Setup-signed.exe")" > "$work/list-signed.txt" || fail "list of the signed setup"
diff "$work/list-built.txt" "$work/list-signed.txt" || fail "listings differ"
[ "$(cat "$work/list-signed.txt")" = "$expected" ] || fail "listing: $(cat "$work/list-signed.txt")"
tool verify "$(winpath "$work/Setup-signed.exe")" --allow-incomplete > "$work/v.txt" 2> "$work/v.err" \
  || fail "verify of the signed setup: $(cat "$work/v.txt" "$work/v.err")"
# The signature behind the end marker is recognised as one, not reported as stray bytes.
grep -q 'follow the end marker' "$work/v.err" && fail "the signature was reported: $(cat "$work/v.err")"
grep -q '^kavlapack: 0 errors, ' "$work/v.err" || fail "no summary: $(cat "$work/v.err")"

# 5. Without the end marker the signature would be read as a record: the
#    reader then refuses the signed setup instead of misreading it.
tool build "$(winpath "$dist/Setup.exe")" "$(winpath "$work/NoEnd.exe")" "$(winpath "$work/payload")" --no-end \
  --allow-incomplete \
  > /dev/null || fail "build --no-end"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 \
  -in "$work/NoEnd.exe" -out "$work/NoEnd-signed.exe" > /dev/null 2>&1 || fail "sign --no-end setup"
set +e
tool verify "$(winpath "$work/NoEnd-signed.exe")" > /dev/null 2>&1
rc=$?
set -e
[ "$rc" -ge 150 ] && [ "$rc" -le 166 ] || fail "a signed setup without end marker verified (exit $rc)"

echo "PASS"
