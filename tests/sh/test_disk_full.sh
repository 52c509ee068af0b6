#!/usr/bin/env bash
# A system drive that fills up during the unpack: C:\tmp of the prefix is a
# small tmpfs, the payload does not fit. The setup must end with the
# documented error (the reader's 157, a content write that failed) and start
# nothing.
set -euo pipefail
if [ "${KAVLA_EMULATED:-0}" = 1 ]; then echo "skipped under emulation: the 64-bit build runs it"; exit 0; fi
if [ "$(id -u)" != 0 ]; then echo "skipped: mounting a tmpfs needs root"; exit 0; fi
src=${KAVLA_SRC_DIR:?}
source "$src/scripts/harness.sh"
harness_env
harness_base_prefix
dist=${KAVLA_DIST_DIR:?}
bin=${KAVLA_TEST_BIN_DIR:?}
work=$(mktemp -d "$KAVLA_WINE_ROOT/diskfull.XXXXXX")
prefix=$work/prefix
cleanup() {
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  umount "$prefix/drive_c/tmp" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
harness_copy_prefix "$prefix"
mkdir -p "$prefix/drive_c/tmp"
mount -t tmpfs -o size=8m tmpfs "$prefix/drive_c/tmp"

payload=$work/payload
mkdir -p "$payload"
cp "$bin/pymApxSvr.exe" "$bin/KavlaSetup.exe" "$payload/"
head -c $((24 * 1024 * 1024)) /dev/urandom > "$payload/big.bin"
"$WINE_RUN" --root "$KAVLA_WINE_ROOT" "$dist/kavlapack.exe" build "$dist/Setup.exe" "$work/Setup.exe" "$payload" >/dev/null

"$WINE_RUN" --root "$KAVLA_WINE_ROOT" --keep "$prefix" "$work/Setup.exe" || true
log=$(cat "$prefix"/drive_c/KavlaLog/setup*.log | tr -d '\r')
echo "$log" | sed 's/^/  /' | tail -5
fail=0
grep -q 'install failed with Err 157\.$' <<<"$log" || { echo "FAIL: no 'install failed with Err 157.'"; fail=1; }
grep -q 'Exit main$' <<<"$log" || { echo "FAIL: no orderly end"; fail=1; }
if ls "$prefix"/drive_c/kavla_standins.log >/dev/null 2>&1; then echo "FAIL: a payload program was started"; fail=1; fi
grep -q 'utl_FileUnpack:Err: 157\.' "$prefix"/drive_c/KavlaLog/stp_UtlFile*.log || { echo "FAIL: reader did not log 157"; fail=1; }
df -h "$prefix/drive_c/tmp" | tail -1
exit $fail
