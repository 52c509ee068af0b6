#!/usr/bin/env bash
# Fuzzing campaign of the readers that take bytes from outside the program:
# the Payload Pack reader (pack), the customisation document readers (xml)
# and the password cipher (cipher), each with tests/bin/fuzz_runner.exe of a
# build tree under Wine, and the figures of each target printed at the end.
#
#   fuzz/run.sh [CASES] [--build DIR] [--seed N] [--jobs N] [--targets "pack xml cipher"]
#
# CASES per target (default 100000). The cases of a target are split over
# --jobs runner processes (default 2, one per core; cipher always 1), each
# in a Wine prefix of its own and over its own range of case numbers, so the
# union is exactly cases 0..CASES-1 of the seed, as one process would run
# them. Every process runs under `timeout` (FUZZ_TIMEOUT, default 3600 s)
# and the runner's own watchdog (FUZZ_HANG_S, default 30 s per case).
# Findings are copied to fuzz/findings/<target>-seed<N>-job<J>/ (FUZZ_FINDINGS
# chooses another folder). Exit code 0 only when every target is clean.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
cases=100000
build=$src/build/x64
seed=1
jobs=2
targets="pack xml cipher"
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --targets) targets=$2; shift 2 ;;
    [0-9]*) cases=$1; shift ;;
    *) echo "usage: fuzz/run.sh [CASES] [--build DIR] [--seed N] [--jobs N] [--targets LIST]" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
cache=$build/CMakeCache.txt
[ -f "$cache" ] || { echo "no build tree at $build" >&2; exit 2; }
# The toolchain file sets the architecture; the test environment records it.
arch=$(sed -n "s/^export 'KAVLA_ARCH=\(.*\)'$/\1/p" "$build/test-env.sh" 2>/dev/null || true)
arch=${arch:-x64}
runner=$build/tests/bin/fuzz_runner.exe
[ -f "$runner" ] || { echo "missing $runner (build the tree first)" >&2; exit 2; }
timeout_s=${FUZZ_TIMEOUT:-3600}
findings_dir=${FUZZ_FINDINGS:-$src/fuzz/findings}

work=$(mktemp -d "${FUZZ_DIR:-/tmp}/kavla_fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KAVLA_WINE_ROOT=$build/wine
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# run_job TARGET JOB FIRST COUNT: one runner process in its own prefix.
run_job() {
  local t=$1 j=$2 first=$3 count=$4 rc=0
  local prefix=$work/prefix-$t-$j log=$work/$t-$j.log
  LC_ALL=${FUZZ_LOCALE:-zh_CN.UTF-8} timeout --kill-after=30 "$timeout_s" "$src/scripts/wine-run.sh" --root "$KAVLA_WINE_ROOT" \
    --arch "$arch" --keep "$prefix" "$runner" "$t" "$(winpath "$src/fuzz/corpus/$t")" "$count" "$seed" \
    'C:\kfuzz' --first "$first" > "$log" 2>&1 || rc=$?
  echo "$rc" > "$work/$t-$j.rc"
  local found=$prefix/drive_c/kfuzz/findings
  if [ -d "$found" ] && [ -n "$(ls -A "$found")" ]; then
    mkdir -p "$findings_dir/$t-seed$seed-job$j"
    cp -r "$found"/. "$findings_dir/$t-seed$seed-job$j/"
  fi
  rm -rf "$prefix"
}

declare -A figures
status=0
for t in $targets; do
  n=$jobs
  [ "$t" = cipher ] && n=1
  [ "$cases" -lt "$n" ] && n=1
  per=$(( (cases + n - 1) / n ))
  t0=$(date +%s)
  for j in $(seq 0 $((n - 1))); do
    first=$((j * per))
    count=$per
    [ $((first + count)) -gt "$cases" ] && count=$((cases - first))
    run_job "$t" "$j" "$first" "$count" &
  done
  wait
  wall=$(( $(date +%s) - t0 ))

  # Combine the jobs' summary lines; a job without one crashed or hung.
  crashes=0 hangs=0 lines=""
  for j in $(seq 0 $((n - 1))); do
    rc=$(cat "$work/$t-$j.rc")
    line=$(tr -d '\r' < "$work/$t-$j.log" | grep "^fuzz $t:" | tail -1 || true)
    tr -d '\r' < "$work/$t-$j.log" | grep -E '^(FINDING|CRASH|HANG) ' | head -5 || true
    case "$rc" in
      0|1) [ -n "$line" ] || crashes=$((crashes + 1)) ;;
      3|124|137) hangs=$((hangs + 1)) ;;
      *) crashes=$((crashes + 1)) ;;
    esac
    [ -n "$line" ] && lines+="$line"$'\n'
    [ "$rc" = 0 ] || status=1
  done
  printf '%s' "$lines" | awk -v t="$t" -v wall="$wall" -v crashes="$crashes" -v hangs="$hangs" -v jobs="$n" '
    {
      for (i = 1; i <= NF; i++) {
        split($i, kv, "=")
        if (kv[1] == "cases") cases += kv[2]
        if (kv[1] == "findings") findings += kv[2]
        if (kv[1] == "outside") outside += kv[2]
        if (kv[1] == "in_target_s") intarget += kv[2]
        if (kv[1] == "acp") acp = kv[2]
      }
      if (match($0, /results=\{[^}]*\}/)) {
        n = split(substr($0, RSTART + 9, RLENGTH - 10), parts, ", ")
        for (k = 1; k <= n; k++) { split(parts[k], kv, ":"); hist[kv[1]] += kv[2] }
      }
      if (match($0, /coverage=\{[^}]*\}/)) {
        n = split(substr($0, RSTART + 10, RLENGTH - 11), parts, ", ")
        for (k = 1; k <= n; k++) { split(parts[k], kv, ":"); cov[kv[1]] += kv[2] }
      }
    }
    function joined(arr,    keys, n, k, i, j, tmp, s) {
      n = 0
      for (k in arr) keys[++n] = k
      for (i = 2; i <= n; i++)
        for (j = i; j > 1 && keys[j - 1] > keys[j]; j--) { tmp = keys[j]; keys[j] = keys[j - 1]; keys[j - 1] = tmp }
      s = ""
      for (i = 1; i <= n; i++) s = s (i > 1 ? ", " : "") keys[i] ":" arr[keys[i]]
      return s
    }
    END {
      h = joined(hist)
      c = joined(cov)
      printf "%s: cases=%d jobs=%d wall_s=%d cases_per_s=%.0f in_target_s=%.0f acp=%s\n", t, cases, jobs, wall,
             (wall > 0 ? cases / wall : 0), intarget, acp
      printf "  results: %s\n", h
      if (c != "") printf "  coverage: %s\n", c
      printf "  crashes=%d hangs=%d files_outside=%d findings=%d\n", crashes, hangs, outside, findings
    }' > "$work/$t.figures"
  figures[$t]=$(cat "$work/$t.figures")
  echo "${figures[$t]}"
done

echo
echo "== fuzzing figures ($arch build, seed $seed, $cases cases per target) =="
for t in $targets; do echo "${figures[$t]}"; done
[ $status = 0 ] && echo "RESULT: clean" || echo "RESULT: findings, crashes or hangs (see above and $findings_dir)"
exit $status
