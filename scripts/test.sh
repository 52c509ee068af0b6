#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test on
# each: the 64-bit test build and the shipped 32-bit build run the same tests
# (where 32-bit programs run natively; see below).
#   scripts/test.sh [--x64-only] [ctest arguments...]
# Prints how long each stage took and how the 32-bit build runs.
set -euo pipefail
cd "$(dirname "$0")/.."
x86=1
if [ "${1:-}" = "--x64-only" ]; then x86=0; shift; fi

t0=$SECONDS
split=()
stage() { split+=("$1 $((SECONDS - t0)) s"); t0=$SECONDS; }

bash scripts/install-deps.sh
bash scripts/harness.sh prefix          # the base Wine prefix, once
stage install

# The install script sends 32-bit programs through qemu-i386 only where this
# kernel cannot run them itself. There, every process start costs about 45 s:
# the 32-bit build then runs each test executable once, leaving out the tests
# that start many processes, instead of every test on its own.
emulated=OFF
if [ $x86 = 1 ]; then
  if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    emulated=ON
    echo "test.sh: the 32-bit build runs under qemu-i386: this kernel runs no 32-bit program itself"
  elif /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "test.sh: the 32-bit build runs natively"
  else
    echo "test.sh: this kernel runs no 32-bit program and qemu-i386 is not registered; the 32-bit build cannot run" >&2
    exit 1
  fi
fi

cmake --preset x64 >/dev/null
cmake --build --preset x64
stage "build x64"
if [ $x86 = 1 ]; then
  cmake --preset x86 -DKAVLA_EMULATED=$emulated >/dev/null
  cmake --build --preset x86
  stage "build x86"
fi

rc=0
( cd build/x64 && ctest -j4 --output-on-failure "$@" ) || rc=1
stage "tests x64"
if [ $x86 = 1 ]; then
  jobs=4; [ $emulated = ON ] && jobs=2
  ( cd build/x86 && ctest -j$jobs --output-on-failure "$@" ) || rc=1
  stage "tests x86"
fi
for f in dist/x86/Setup.exe dist/x64/Setup.exe; do
  [ -f "$f" ] && printf '%s: %s bytes\n' "$f" "$(stat -c %s "$f")"
done
printf 'test.sh: %s\n' "$(IFS=,; echo "${split[*]}" | sed 's/,/, /g')"
exit $rc
