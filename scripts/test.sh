#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test:
# all tests on the 64-bit build, then each test executable of the shipped
# 32-bit build once (under qemu-i386) with its few whole-program runs.
#   scripts/test.sh [--x64-only] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
x86=1
if [ "${1:-}" = "--x64-only" ]; then x86=0; shift; fi

bash scripts/install-deps.sh
bash scripts/harness.sh prefix          # the base Wine prefix, once

cmake --preset x64 >/dev/null
cmake --build --preset x64
if [ $x86 = 1 ]; then
  cmake --preset x86 >/dev/null
  cmake --build --preset x86
fi

rc=0
# A test whose Wine never came up is run once more; a real failure fails twice.
( cd build/x64 && ctest -j4 --output-on-failure --repeat until-pass:2 "$@" ) || rc=1
if [ $x86 = 1 ]; then
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    ( cd build/x86 && ctest -j2 --output-on-failure --repeat until-pass:2 "$@" ) || rc=1
  else
    echo "test.sh: qemu-i386 is not registered with binfmt_misc; the 32-bit build cannot run" >&2
    rc=1
  fi
fi
for f in dist/x86/Setup.exe dist/x64/Setup.exe; do
  [ -f "$f" ] && printf '%s: %s bytes\n' "$f" "$(stat -c %s "$f")"
done
exit $rc
