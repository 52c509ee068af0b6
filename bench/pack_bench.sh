#!/usr/bin/env bash
# Payload Pack unpacking speed and memory, compared in the same run and on
# the same files with what else could put those files on disk. Every job is
# one whole process started by this script (its start counted), under the
# same Wine and prefix with one wineserver kept running for all of them:
#   Setup.exe      the setup program built by kavlapack with the files as its
#                  payload; without an admission service in the payload its
#                  driver stops right after the unpack (355);
#   reader         utl_FileUnpack alone in a program of its own, on the same
#                  Setup.exe (must take the time of Setup.exe: the unpack is
#                  all that program does);
#   loop           the reader's loop without log lines, to price a log line;
#   NSIS           an installer of the same files made by makensis in store
#                  mode (SetCompress off, SilentInstall silent);
#   7za            7za.exe x of a -mx0 .7z of the files;
#   CopyFileA      a small program copying the files with CopyFileA;
#   cp             native cp, for the record.
# Files: 4 x 48 MiB + 2000 x 32 KiB (about 255 MiB). The peak working set of
# the unpacking process is also taken at 16 MiB (4 x 3 MiB + 128 x 32 KiB).
# Each job runs BENCH_ROUNDS times (default 3), interleaved with the others;
# the best time counts. Everything runs twice over: with Wine free to use
# every CPU, and with the wineserver and every job pinned to CPU 0
# (taskset): each system call Wine forwards to its server is a round trip
# between two processes, dearer across CPUs. BENCH_CPUS="all" or "one" runs
# one set only.
# Targets, in the same run: unpack <= 1.0 x the NSIS store installer,
# <= 1.0 x 7za -mx0 and <= 1.5 x CopyFileA; peak working set not growing
# with the payload. The NSIS stub is a 32-bit program: where this kernel runs
# no 32-bit program itself it goes through qemu-i386, and its time is then
# the emulator's (the output says so), no figure to compare with.
#
#   bench/pack_bench.sh [BUILD_DIR]      (default: build/x64; needs kavlapack.exe,
#                                         Setup.exe, tests/bin/bench_unpack.exe, makensis)
# BENCH_DIR chooses where the ~1.5 GB of work files and a prefix go; they are
# removed at the end. The default is /dev/shm when it is a tmpfs with 4 GB
# free, else /tmp: on a virtual machine's disk the same cp of these files took
# anywhere from 0.14 to 1.4 s, more than the differences to be measured,
# while in memory it takes 0.14 s every time.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
emulated32=OFF
grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386 && emulated32=ON
build=$(cd "${1:-$src/build/x64}" && pwd)
cache=$build/CMakeCache.txt
[ -f "$cache" ] || { echo "no build tree at $build" >&2; exit 2; }
dist=$(sed -n 's/^KAVLA_DIST_DIR:PATH=//p' "$cache")
arch=$(sed -n 's/^KAVLA_ARCH:[A-Z]*=//p' "$cache")
arch=${arch:-x64}
bench=$build/tests/bin/bench_unpack.exe
sevenza=$src/third_party/7zip-bin/win/x64/7za.exe
loader=/usr/lib/wine/wine64
if [ "$arch" = x86 ]; then sevenza=$src/third_party/7zip-bin/win/ia32/7za.exe; loader=/usr/lib/wine/wine; fi
for f in "$dist/kavlapack.exe" "$dist/Setup.exe" "$bench" "$sevenza"; do
  [ -f "$f" ] || { echo "missing $f (build the tree first)" >&2; exit 2; }
done
command -v makensis >/dev/null || { echo "missing makensis (Debian package nsis)" >&2; exit 2; }

if [ -z "${BENCH_DIR:-}" ]; then
  BENCH_DIR=/tmp
  if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] \
     && [ "$(df -k --output=avail /dev/shm | tail -1)" -ge 4194304 ]; then BENCH_DIR=/dev/shm; fi
fi
work=$(mktemp -d "$BENCH_DIR/kavla_bench.XXXXXX")
export KAVLA_WINE_ROOT=$build/wine
source "$src/scripts/harness.sh"
harness_env
harness_base_prefix
harness_xvfb
prefix=$work/prefix
harness_copy_prefix "$prefix"
export WINEPREFIX=$prefix
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
drive_c=$prefix/drive_c
wd=$drive_c/tmp/KavlaSetup0          # the setup program's work folder
# Every job writes its files into that same folder, by its C: name, so that
# the jobs differ in their programs only.
wd_win=C:$(printf '%s' "${wd#"$drive_c"}" | tr / '\\')

# make_payload DIR BIG_COUNT BIG_MIB SMALL_COUNT
make_payload() {
  local dir=$1 i
  mkdir -p "$dir"
  for i in $(seq 1 "$2"); do head -c "$(($3 * 1048576))" /dev/urandom > "$dir/big$i.bin"; done
  head -c "$(($4 * 32768))" /dev/urandom | (cd "$dir" && split -b 32768 -a 4 -d --additional-suffix=.bin - small)
}

# timed NAME COMMAND...: wall time of the whole process (ms), best kept; the
# Linux peak RSS of the process; a peak working set it prints itself.
declare -A best ws rss
timed() {
  local name=$1 t0 t1 ms out
  shift
  t0=$(date +%s%N)
  out=$("${pin[@]}" /usr/bin/time -f 'maxrss=%M' -o "$work/time.txt" "$@" 2>/dev/null | tr -d '\r') || true
  t1=$(date +%s%N)
  ms=$(( (t1 - t0) / 1000000 ))
  if [ -z "${best[$name]:-}" ] || [ "$ms" -lt "${best[$name]}" ]; then best[$name]=$ms; fi
  ws[$name]=$(printf '%s\n' "$out" | sed -n 's/.*peak_ws_kb=\([0-9]*\).*/\1/p' | tail -1)
  rss[$name]=$(sed -n 's/.*maxrss=\([0-9]*\).*/\1/p' "$work/time.txt")
}
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }
same() { diff -rq "$1" "$2" >/dev/null || { echo "$3: files differ" >&2; diff -rq "$1" "$2" | head -5 >&2; exit 1; }; }
# The setup program's work folder holds its own folders (component, Qt) beside the files.
same_files() {
  local diffs
  diffs=$(diff -rq "$1" "$2" | grep -v "^Only in $2" || true)
  [ -z "$diffs" ] || { echo "$3: files differ" >&2; printf '%s\n' "$diffs" | head -5 >&2; exit 1; }
}

# A wineserver for the whole set, pinned like its jobs.
start_server() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
  "${pin[@]}" /usr/lib/wine/wineserver -p
  "${pin[@]}" "$loader" cmd /c exit 0 >/dev/null 2>&1   # services up before the first timing
}

set_mode() {
  case $1 in
    all) pin=(); cpus="Wine free to use every CPU" ;;
    one) pin=(taskset -c 0); cpus="wineserver and every job pinned to CPU 0" ;;
    *) echo "BENCH_CPUS: all or one, not $1" >&2; exit 2 ;;
  esac
}

# build_setup DIR: DIR/Setup.exe with DIR/payload as its Payload Pack.
build_setup() {
  # Only files to unpack, no programs to run: incomplete on purpose.
  "$loader" "$dist/kavlapack.exe" build "$(winpath "$dist/Setup.exe")" "$(winpath "$1/Setup.exe")" \
    "$(winpath "$1/payload")" --allow-incomplete >/dev/null
}

# run_setup HOST: one run of the setup program, unpacking into its work folder.
run_setup() {
  fresh "$wd"
  rm -rf "$drive_c/KavlaLog"
  timed setup "$loader" "$1"
}
run_reader() {
  fresh "$wd"
  rm -rf "$drive_c/KavlaLog"          # its log begins as the setup program's does
  timed reader "$loader" "$bench" unpack "$(winpath "$1")" "$wd_win" 3300000
}

declare -A peak_ws peak_rss
t_start=$(date +%s)
echo "machine load at start: $(uptime)"
echo "work files in $BENCH_DIR ($(stat -f -c %T "$BENCH_DIR")): $(df -h --output=avail "$BENCH_DIR" | tail -1 | tr -d ' ') free"

# The large set: every job.
d=$work/big
make_payload "$d/payload" 4 48 2000
bytes=$(du -sb "$d/payload" | cut -f1)
files=$(ls "$d/payload" | wc -l)
set_mode all; start_server
build_setup "$d"
"$loader" "$sevenza" a -mx0 -bd -bso0 -bsp0 "$(winpath "$d/payload.7z")" "$(winpath "$d/payload")\\*" >/dev/null
cat > "$d/store.nsi" <<NSI
OutFile "$d/nsis_setup.exe"
SetCompress off
SilentInstall silent
RequestExecutionLevel admin
InstallDir "$wd_win"
Section
  SetOutPath "\$INSTDIR"
  File "$d/payload/*.bin"
SectionEnd
NSI
makensis -V1 "$d/store.nsi" >/dev/null

for mode in ${BENCH_CPUS:-all one}; do
  set_mode "$mode"; start_server
  best=(); ws=(); rss=()
  for r in $(seq 1 "${BENCH_ROUNDS:-3}"); do
    run_setup "$(winpath "$d/Setup.exe")"
    if [ "$r" = 1 ]; then
      same_files "$d/payload" "$wd" Setup.exe
      grep -aq 'install failed with Err 355\.' "$drive_c"/KavlaLog/setup*.log \
        || { echo "Setup.exe did not stop after the unpack with 355" >&2; exit 1; }
    fi
    run_reader "$d/Setup.exe"
    [ "$r" = 1 ] && same "$d/payload" "$wd" reader
    fresh "$wd"; timed loop "$loader" "$bench" loop "$(winpath "$d/Setup.exe")" "$wd_win" 3300000 4096
    fresh "$wd"; timed nsis "$loader" "$d/nsis_setup.exe"
    [ "$r" = 1 ] && same "$d/payload" "$wd" NSIS
    fresh "$wd"; timed 7za "$loader" "$sevenza" x -y -bso0 -bsp0 "-o$wd_win" "$(winpath "$d/payload.7z")"
    [ "$r" = 1 ] && same "$d/payload" "$wd" 7za
    fresh "$wd"; timed copy "$loader" "$bench" copy "$(winpath "$d/payload")" "$wd_win"
    [ "$r" = 1 ] && same "$d/payload" "$wd" CopyFileA
    fresh "$wd"; timed cp cp -r "$d/payload"/. "$wd"/
  done
  echo
  echo "== $files files, $bytes bytes ($(awk "BEGIN{printf \"%.1f\", $bytes / 1048576}") MiB); $cpus; best of ${BENCH_ROUNDS:-3} =="
  printf '%-34s %9s %8s %12s %12s\n' job "best ms" "MiB/s" "peak WS KiB" "max RSS KiB"
  for job in setup reader loop nsis 7za copy cp; do
    printf '%-34s %9s %8s %12s %12s\n' "$(case $job in
        setup) echo 'Setup.exe (unpack, stops: 355)';; reader) echo 'utl_FileUnpack alone';;
        loop) echo 'reader loop without log lines';; nsis) echo 'NSIS store installer';;
        7za) echo '7za.exe x, -mx0 .7z';; copy) echo 'CopyFileA program';; cp) echo 'native cp';;
      esac)" "${best[$job]}" "$(awk "BEGIN{printf \"%.0f\", $bytes / 1048576 / (${best[$job]} / 1000)}")" \
      "${ws[$job]:--}" "${rss[$job]:--}"
  done
  # Lines one unpack logs: 5 before the records, 4 per record (end marker
  # included) and the end line.
  loglines=$(( 5 + 4 * (files + 1) + 1 ))
  awk -v s="${best[setup]}" -v u="${best[reader]}" -v l="${best[loop]}" -v a="${best[copy]}" \
      -v b="${best[7za]}" -v n="${best[nsis]}" -v c="${best[cp]}" -v k="$loglines" -v e="$emulated32" 'BEGIN{
    printf "Setup.exe / reader alone  = %.2f (the same work: the unpack)\n", s/u;
    printf "unpack / CopyFileA        = %.2f (target <= 1.5: %s)\n", s/a, (s <= 1.5*a ? "met" : "NOT met");
    printf "unpack / 7za -mx0         = %.2f (target <= 1.0: %s)\n", s/b, (s <= b ? "met" : "NOT met");
    if (e == "ON")
      printf "unpack / NSIS store       = %.3f (NSIS ran under qemu-i386: no figure to compare with)\n", s/n;
    else
      printf "unpack / NSIS store       = %.2f (target <= 1.0: %s)\n", s/n, (s <= n ? "met" : "NOT met");
    printf "unpack / native cp        = %.2f\n", s/c;
    printf "log lines: %d per unpack, %.3f ms each, %.1f%% of the reader (reader vs. its loop without them)\n",
           k, (u-l)/k, (u-l)*100/u;
  }'
  peak_ws[big.$mode]=${ws[reader]}
  peak_rss[big.$mode]=${rss[reader]}
  peak_rss[bigsetup.$mode]=${rss[setup]}
done
rm -rf "$d" "$wd"

# The small set: the unpacking process's memory only.
d=$work/small
make_payload "$d/payload" 4 3 128
set_mode all; start_server
build_setup "$d"
for mode in ${BENCH_CPUS:-all one}; do
  set_mode "$mode"; start_server
  best=(); ws=(); rss=()
  run_setup "$(winpath "$d/Setup.exe")"
  same_files "$d/payload" "$wd" "Setup.exe (16 MiB)"
  run_reader "$d/Setup.exe"
  peak_ws[small.$mode]=${ws[reader]}
  peak_rss[small.$mode]=${rss[reader]}
  peak_rss[smallsetup.$mode]=${rss[setup]}
done
rm -rf "$d"

echo
for mode in ${BENCH_CPUS:-all one}; do
  echo "peak working set of the unpacking process ($mode): ${peak_ws[small.$mode]} KiB at 16 MiB," \
       "${peak_ws[big.$mode]} KiB at 256 MiB; Linux max RSS of the reader ${peak_rss[small.$mode]} vs" \
       "${peak_rss[big.$mode]} KiB, of Setup.exe ${peak_rss[smallsetup.$mode]} vs ${peak_rss[bigsetup.$mode]} KiB"
done
echo "machine load at end: $(uptime)"
echo "total bench time: $(( $(date +%s) - t_start )) s"
