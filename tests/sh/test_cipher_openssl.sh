#!/usr/bin/env bash
# The stored password text against an independent implementation: OpenSSL's
# DES-ECB (legacy provider, PKCS #5 padding, key "mervo273" as hex) and
# coreutils base64 make the texts; kavlapwd must decrypt each to its password
# and encrypt each password to the same text. Passwords are drawn at random
# on every run, besides fixed edge lengths, so nothing here is a copy of what
# the program produced.
set -euo pipefail

command -v openssl >/dev/null || { echo "SKIP: openssl is not installed"; exit 0; }
key=6d6572766f323733
ossl_text() { # password bytes on stdin -> stored text
  openssl enc -des-ecb -provider legacy -provider default -K "$key" -nosalt | base64 -w0
}
ossl_plain() { # stored text on stdin -> password bytes
  base64 -d | openssl enc -d -des-ecb -provider legacy -provider default -K "$key" -nosalt
}
printf 'abc' | ossl_text >/dev/null 2>&1 || { echo "SKIP: this openssl has no DES (legacy provider)"; exit 0; }

dist=${KAVLA_DIST_DIR:?}
[ -f "$dist/kavlapwd.exe" ] || { echo "FAIL: no kavlapwd.exe in $dist"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kavla_pwd.XXXXXX")
prefix=$work/prefix
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
tool() { # kavlapwd under Wine in one kept prefix, CR LF output as LF
  "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$KAVLA_ARCH" --keep "$prefix" "$dist/kavlapwd.exe" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}
random_password() { # $1 bytes of printable ASCII without blanks
  LC_ALL=C tr -dc 'A-Za-z0-9!#%&()*+,./:;<=>?@^_{|}~-' < /dev/urandom | head -c "$1"
}

# The key and padding OpenSSL uses here reproduce the one published vector of
# the stored format that does not depend on this program: "abc".
[ "$(printf 'abc' | ossl_text)" = "M26MqW+1/1s=" ] || fail "openssl does not produce the expected text for abc"

# Passwords: edge lengths around the 8-byte blocks, the longest the password
# dialog takes (32 characters), GBK bytes, and random ones of random length.
printf '%s' "$(random_password 1)" > "$work/p1"
printf '%s' "$(random_password 8)" > "$work/p2"
printf '%s' "$(random_password 9)" > "$work/p3"
printf '%s' "$(random_password 32)" > "$work/p4"
printf '\xc4\xe3\xba\xc3%s' "$(random_password 5)" > "$work/p5"
for i in 6 7 8; do
  printf '%s' "$(random_password $(( (RANDOM % 32) + 1 )))" > "$work/p$i"
done

checked=0
check_one() { # $1 password file
  local pw=$1 text out
  text=$(ossl_text < "$pw")
  [ "$(printf '%s' "$text" | ossl_plain | od -An -tx1)" = "$(od -An -tx1 < "$pw")" ] \
    || fail "openssl round trip of $(cat "$pw")"
  # Decrypt: the project's tool reads the independent text.
  out=$( { cat "$pw"; printf '\n'; } | tool check "$text") || fail "check $text: $out"
  printf '%s\n' "$out" | grep -qx "matches: yes" || fail "check $text did not match: $out"
  printf '%s\n' "$out" | grep -q "^note:" && fail "check $text: $out"
  # Encrypt: the project's tool makes the same text.
  if [ "${2:-both}" = both ]; then
    out=$( { cat "$pw"; printf '\n'; } | tool encrypt) || fail "encrypt: $out"
    [ "$out" = "$text" ] || fail "encrypt gave $out, openssl $text for $(cat "$pw")"
  fi
  checked=$((checked + 1))
}

if [ "${KAVLA_EMULATED:-0}" = 1 ]; then
  # About 45 s per process start under emulation: one decryption, one encryption.
  text=$(ossl_text < "$work/p5")
  out=$( { cat "$work/p5"; printf '\n'; } | tool check "$text") || fail "check $text: $out"
  printf '%s\n' "$out" | grep -qx "matches: yes" || fail "check $text did not match: $out"
  out=$( { cat "$work/p4"; printf '\n'; } | tool encrypt) || fail "encrypt: $out"
  [ "$out" = "$(ossl_text < "$work/p4")" ] || fail "encrypt gave $out for $(cat "$work/p4")"
  echo "PASS: 2 texts against openssl (x86: one decryption, one encryption)"
  exit 0
fi

for i in 1 2 3 4 5 6 7 8; do
  check_one "$work/p$i"
done

# A wrong password decrypts but does not match; a text under another key does
# not decrypt to it either.
text=$(ossl_text < "$work/p2")
out=$( { printf 'wrong\n'; } | tool check "$text") && fail "wrong password accepted: $out"
printf '%s\n' "$out" | grep -qx "matches: no" || fail "wrong password: $out"
other=$(printf 'abc' | openssl enc -des-ecb -provider legacy -provider default -K 0123456789abcdef -nosalt | base64 -w0)
out=$(printf 'abc\n' | tool check "$other") && fail "text under another key accepted: $out"

echo "PASS: $checked passwords, texts made by openssl decrypted and reproduced"
