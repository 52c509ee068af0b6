#!/usr/bin/env bash
# Short fuzzing campaign (the long one is fuzz/run.sh): fuzz_runner on the
# seed corpora of fuzz/corpus with a fixed seed, 2,000 cases of the Payload
# Pack reader and 5,000 of the customisation document readers (in parallel,
# each in a prefix of its own), then 20,000 of the password cipher. Every
# result must match the runner's model of the formats, nothing may appear
# outside the destination folder, and no case may crash or hang. Runs on a
# Simplified Chinese system (code page 936), as the program's users do.
# FUZZ_SEED chooses another seed.
set -euo pipefail
src=${KAVLA_SRC_DIR:?}
bin=${KAVLA_TEST_BIN_DIR:?}
runner=$bin/fuzz_runner.exe
[ -f "$runner" ] || { echo "FAIL: no fuzz_runner.exe in $bin"; exit 1; }
seed=${FUZZ_SEED:-20240501}
work=$(mktemp -d "${TMPDIR:-/tmp}/kavla_fuzz_short.XXXXXX")
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# run TARGET CASES: one runner process in its own prefix; output in $work/TARGET.log.
run() {
  local t=$1 n=$2 rc=0
  LC_ALL=zh_CN.UTF-8 timeout --kill-after=30 900 "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$KAVLA_ARCH" \
    --keep "$work/prefix-$t" "$runner" "$t" "$(winpath "$src/fuzz/corpus/$t")" "$n" "$seed" 'C:\kfuzz' \
    > "$work/$t.log" 2>&1 || rc=$?
  echo "$rc" > "$work/$t.rc"
}

# check TARGET CASES: the exit code and the summary line of one run.
failed=0
check() {
  local t=$1 n=$2 rc line
  rc=$(cat "$work/$t.rc")
  line=$(tr -d '\r' < "$work/$t.log" | grep "^fuzz $t:" | tail -1 || true)
  tr -d '\r' < "$work/$t.log" | grep -E '^(FINDING|CRASH|HANG) ' | head -10 || true
  case "$rc" in
    0) ;;
    1) echo "FAIL: $t: findings (inputs in the runner's findings folder; rerun fuzz/run.sh to keep them)"; failed=1 ;;
    3|124|137) echo "FAIL: $t: a case hung (exit code $rc)"; failed=1 ;;
    *) echo "FAIL: $t: the runner crashed (exit code $rc)"; tail -5 "$work/$t.log"; failed=1 ;;
  esac
  [ -n "$line" ] || { echo "FAIL: $t: no summary line"; failed=1; return; }
  echo "$line"
  printf '%s\n' "$line" | grep -q "cases=$n " || { echo "FAIL: $t: not all $n cases ran"; failed=1; }
  printf '%s\n' "$line" | grep -q " findings=0 outside=0 " || { echo "FAIL: $t: findings"; failed=1; }
}

if [ "${KAVLA_EMULATED:-0}" = 1 ]; then
  # About 45 s per process start under emulation: the cipher only, in one run.
  run cipher 2000
  check cipher 2000
  [ $failed = 0 ] && echo "PASS: cipher, 2000 cases (x86: pack and xml run on the 64-bit build)"
  exit $failed
fi

t0=$(date +%s)
run pack 2000 &
run xml 5000 &
wait
run cipher 20000
check pack 2000
check xml 5000
check cipher 20000
[ $failed = 0 ] && echo "PASS: pack 2000, xml 5000, cipher 20000 cases in $(( $(date +%s) - t0 )) s"
exit $failed
