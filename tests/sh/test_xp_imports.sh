#!/usr/bin/env bash
# The shipped 32-bit programs start on Windows XP SP3: its loader refuses a
# program that statically imports a name its system DLLs do not export,
# before any of the program's code runs, so no run-time check can help.
# Every static import must be named in the XP export list of its DLL
# (cmake/winxp-exports) and must not be on the deny-list there, which holds
# the names those lists carry although XP SP3 lacks them. A DLL without a
# list, or an import by ordinal, fails too: nothing vouches for it.
# Checked: Setup.exe, and the administrators' tools that README.md says run
# on XP SP3 (kavlalog, kavlapwd).
set -euo pipefail
arch=${KAVLA_ARCH:?}
dist=${KAVLA_DIST_DIR:?}
lists=${KAVLA_SRC_DIR:?}/cmake/winxp-exports
if [ "$arch" != x86 ]; then echo "SKIP: only the 32-bit build ships and must start on XP"; exit 0; fi
objdump=i686-w64-mingw32-objdump
passed=0 failed=0

# Prints dll!Name per static import, the DLL lower case without ".dll";
# an import by ordinal prints dll!#ordinal.
imports_of() {
  $objdump -p "$1" | awk '
    /^\tDLL Name:/ { d = tolower($3); sub(/\.dll$/, "", d); next }
    /^$/ { next }
    d != "" && /^\t[0-9a-f]+\t/ { print d "!" ($3 == "<none>" ? "#" $2 : $3) }
    /^The Export Tables|^PE File Base Relocations/ { d = "" }'
}

check() { # program file name
  local exe=$dist/$1 imp bad=() d n
  if [ ! -f "$exe" ]; then echo "FAIL $1: not built"; failed=$((failed + 1)); return; fi
  imp=$(imports_of "$exe")
  # A table that cannot be read must not pass as one with nothing missing.
  if ! grep -q '^kernel32!' <<<"$imp"; then
    echo "FAIL $1: no kernel32 imports read from its import table"; failed=$((failed + 1)); return
  fi
  while IFS='!' read -r d n; do
    if [ "${n:0:1}" = "#" ]; then bad+=("$d!$n (by ordinal)")
    elif [ ! -f "$lists/$d.txt" ]; then bad+=("$d!$n (no XP list for $d.dll)")
    elif grep -qxF "$d!$n" "$lists/deny.txt"; then bad+=("$d!$n (deny-list)")
    elif ! grep -qxF -- "$n" "$lists/$d.txt"; then bad+=("$d!$n")
    fi
  done <<<"$imp"
  if [ ${#bad[@]} -eq 0 ]; then
    echo "PASS $1: $(wc -l <<<"$imp") static imports, all exported by Windows XP SP3"
    passed=$((passed + 1))
  else
    echo "FAIL $1 imports ${#bad[@]} name(s) Windows XP SP3 lacks, so XP refuses to start it:"
    printf '  %s\n' "${bad[@]}"
    failed=$((failed + 1))
  fi
}

for p in Setup.exe kavlalog.exe kavlapwd.exe; do check "$p"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
