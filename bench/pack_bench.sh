#!/usr/bin/env bash
# Payload Pack unpacking speed and memory, compared in the same run and on
# the same files with what else could put those files on disk:
#   (a) CopyFileA of the same files under the same Wine (a Windows program
#       without a container),
#   (b) the real 7za.exe extracting a store-mode (-mx0) .7z of the files,
#   (c) native cp, for the record.
# Payloads: 16 MiB (4 x 3 MiB + 128 x 32 KiB) and about 256 MiB
# (4 x 48 MiB + 2000 x 32 KiB). Each job runs BENCH_ROUNDS times (default
# 5), interleaved with the others; the best time counts, which keeps the
# figures steadier on a shared machine.
# Every job runs twice over: with Wine free to use every CPU, and pinned to
# one CPU (taskset). Each system call that Wine forwards to its server is a
# round trip between two processes; on a virtual machine with two CPUs a
# round trip across CPUs costs about ten times one on the same CPU, and each
# log line is about five of them. BENCH_CPUS="all" or "one" runs one set only.
# Also measures the reader's loop without log lines at
# 4096 and 65536 bytes of buffer, to tell whether a larger buffer would pay.
# Targets: unpack at least as fast as (a), at least twice as fast as (b),
# peak memory that does not grow with the payload.
#
#   bench/pack_bench.sh [BUILD_DIR]      (default: build/x64; needs kavlapack.exe,
#                                         Setup.exe and tests/bin/bench_unpack.exe)
# BENCH_DIR chooses where the ~1.5 GB of work files go (default: /tmp).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build/x64}" && pwd)
cache=$build/CMakeCache.txt
[ -f "$cache" ] || { echo "no build tree at $build" >&2; exit 2; }
dist=$(sed -n 's/^KAVLA_DIST_DIR:PATH=//p' "$cache")
arch=$(sed -n 's/^KAVLA_ARCH:[A-Z]*=//p' "$cache")
arch=${arch:-x64}
bench=$build/tests/bin/bench_unpack.exe
sevenza=$src/third_party/7zip-bin/win/x64/7za.exe
[ "$arch" = x86 ] && sevenza=$src/third_party/7zip-bin/win/ia32/7za.exe
for f in "$dist/kavlapack.exe" "$dist/Setup.exe" "$bench" "$sevenza"; do
  [ -f "$f" ] || { echo "missing $f (build the tree first)" >&2; exit 2; }
done

work=$(mktemp -d "${BENCH_DIR:-/tmp}/kavla_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KAVLA_WINE_ROOT=$build/wine
prefix=$work/prefix
W=("$src/scripts/wine-run.sh" --root "$KAVLA_WINE_ROOT" --arch "$arch" --keep "$prefix")
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# make_payload DIR BIG_COUNT BIG_MIB SMALL_COUNT
make_payload() {
  local dir=$1 i
  mkdir -p "$dir"
  for i in $(seq 1 "$2"); do head -c "$(($3 * 1048576))" /dev/urandom > "$dir/big$i.bin"; done
  head -c "$(($4 * 32768))" /dev/urandom | (cd "$dir" && split -b 32768 -a 4 -d --additional-suffix=.bin - small)
}

# timed NAME COMMAND...: runs a Wine job, keeps its in-process time (ms),
# its peak working set and the Linux peak RSS of the Wine process (KiB).
declare -A best ws rss peak_ws peak_rss
timed() {
  local name=$1 out line ms
  shift
  out=$(/usr/bin/time -f 'maxrss=%M' -o "$work/time.txt" "$@" | tr -d '\r')
  line=$(printf '%s\n' "$out" | grep '_ms=' | tail -1)
  [ -n "$line" ] || { echo "job $name printed no time: $out" >&2; exit 1; }
  ms=$(printf '%s' "$line" | sed 's/.*_ms=\([0-9.]*\).*/\1/')
  if [ -z "${best[$name]:-}" ] || awk "BEGIN{exit !($ms < ${best[$name]})}"; then best[$name]=$ms; fi
  ws[$name]=$(printf '%s' "$line" | sed 's/.*peak_ws_kb=\([0-9]*\).*/\1/')
  rss[$name]=$(sed -n 's/.*maxrss=\([0-9]*\).*/\1/p' "$work/time.txt")
}
timed_native() {
  local name=$1 t0 t1 ms
  shift
  t0=$(date +%s%N); "$@"; t1=$(date +%s%N)
  ms=$(awk "BEGIN{printf \"%.1f\", ($t1 - $t0) / 1e6}")
  if [ -z "${best[$name]:-}" ] || awk "BEGIN{exit !($ms < ${best[$name]})}"; then best[$name]=$ms; fi
}
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }

run_size() { # LABEL BIG_COUNT BIG_MIB SMALL_COUNT
  local label=$1 d=$work/$1 r
  best=(); ws=(); rss=()
  make_payload "$d/payload" "$2" "$3" "$4"
  local bytes files
  bytes=$(du -sb "$d/payload" | cut -f1)
  files=$(ls "$d/payload" | wc -l)
  # Only files to unpack, no programs to run: incomplete on purpose.
  "${W[@]}" "$dist/kavlapack.exe" build "$(winpath "$dist/Setup.exe")" "$(winpath "$d/Setup.exe")" "$(winpath "$d/payload")" \
    --allow-incomplete >/dev/null
  "${W[@]}" "$sevenza" a -mx0 -bd -bso0 -bsp0 "$(winpath "$d/payload.7z")" "$(winpath "$d/payload")\\*" >/dev/null
  local host=$(winpath "$d/Setup.exe") out=$d/out wout=$(winpath "$d/out")
  local mode pin cpus
  for mode in ${BENCH_CPUS:-all one}; do
    best=(); ws=(); rss=()
    case $mode in
      all) pin=(); cpus="Wine free to use every CPU" ;;
      one) pin=(taskset -c 0); cpus="every job pinned to CPU 0" ;;
      *) echo "BENCH_CPUS: all or one, not $mode" >&2; exit 2 ;;
    esac
    for r in $(seq 1 "${BENCH_ROUNDS:-5}"); do
      fresh "$out"; timed unpack "${pin[@]}" "${W[@]}" "$bench" unpack "$host" "$wout" 3300000
      [ "$r" = 1 ] && { diff -rq "$d/payload" "$out" >/dev/null || { echo "unpacked files differ" >&2; exit 1; }; }
      fresh "$out"; timed copy "${pin[@]}" "${W[@]}" "$bench" copy "$(winpath "$d/payload")" "$wout"
      fresh "$out"; timed 7za "${pin[@]}" "${W[@]}" "$bench" run "$(winpath "$sevenza")" x -y -bso0 -bsp0 "-o$wout" "$(winpath "$d/payload.7z")"
      [ "$r" = 1 ] && { diff -rq "$d/payload" "$out" >/dev/null || { echo "7za output differs" >&2; exit 1; }; }
      fresh "$out"; timed_native cp "${pin[@]}" cp "$d/payload"/. "$out"/ -r
      fresh "$out"; timed loop4096 "${pin[@]}" "${W[@]}" "$bench" loop "$host" "$wout" 3300000 4096
      fresh "$out"; timed loop65536 "${pin[@]}" "${W[@]}" "$bench" loop "$host" "$wout" 3300000 65536
    done
    local mib
    mib=$(awk "BEGIN{printf \"%.1f\", $bytes / 1048576}")
    echo
    echo "== payload $label: $files files, $bytes bytes ($mib MiB), container at offset 3300000; $cpus =="
    printf '%-28s %10s %10s %14s %14s\n' job "best ms" "MiB/s" "peak WS KiB" "max RSS KiB"
    local job
    for job in unpack copy 7za cp loop4096 loop65536; do
      printf '%-28s %10s %10s %14s %14s\n' "$(case $job in
          unpack) echo 'utl_FileUnpack';; copy) echo '(a) CopyFileA';; 7za) echo '(b) 7za.exe x, -mx0 .7z';;
          cp) echo '(c) native cp';; loop4096) echo 'loop, 4096 B, no log';; loop65536) echo 'loop, 65536 B, no log';;
        esac)" "${best[$job]}" "$(awk "BEGIN{printf \"%.0f\", $bytes / 1048576 / (${best[$job]} / 1000)}")" \
        "${ws[$job]:--}" "${rss[$job]:--}"
    done
    # Lines one unpack logs: 5 before the records, 4 per record (end marker
    # included) and the end line.
    local loglines=$(( 5 + 4 * (files + 1) + 1 ))
    awk -v u="${best[unpack]}" -v a="${best[copy]}" -v b="${best[7za]}" -v c="${best[cp]}" \
        -v l4="${best[loop4096]}" -v l64="${best[loop65536]}" -v n="$loglines" 'BEGIN{
      printf "unpack time / CopyFileA time = %.2f (target <= 1.00: %s)\n", u/a, (u <= a ? "met" : "NOT met");
      printf "unpack time / 7za.exe time   = %.2f (target <= 0.50: %s)\n", u/b, (u <= b/2 ? "met" : "NOT met");
      printf "unpack time / native cp time = %.2f\n", u/c;
      printf "65536-byte buffer saves %.1f%% of the 4096-byte loop (worth changing above 10%%: %s)\n",
             (l4-l64)*100/l4, ((l4-l64)*10 > l4 ? "yes" : "no");
      printf "log lines cost %.1f%% of the unpack time (unpack vs. 4096-byte loop): %d lines, %.3f ms each\n",
             (u-l4)*100/u, n, (u-l4)/n;
    }'
    peak_ws[$label.$mode]=${ws[unpack]}
    peak_rss[$label.$mode]=${rss[unpack]}
  done
  rm -rf "$out"
  rm -rf "$d"
}

t0=$(date +%s)
run_size 16MiB 4 3 128
run_size 256MiB 4 48 2000
echo
for mode in ${BENCH_CPUS:-all one}; do
  echo "utl_FileUnpack peak working set ($mode): ${peak_ws[16MiB.$mode]} KiB (16 MiB payload)," \
       "${peak_ws[256MiB.$mode]} KiB (256 MiB); max RSS of the Wine process:" \
       "${peak_rss[16MiB.$mode]} KiB vs ${peak_rss[256MiB.$mode]} KiB"
done
echo "total bench time: $(( $(date +%s) - t0 )) s"
