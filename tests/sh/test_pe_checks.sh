#!/usr/bin/env bash
# The shipped programs as files: the right PE kind for the build, statically
# linked, and importing only system libraries that Windows never looks for
# beside the program (KnownDLLs), so a DLL planted in a downloads folder is
# never loaded into the elevated setup. Also: every LoadLibrary call names a
# system library by its full system-folder path or is restricted to it.
set -euo pipefail
dist=${KAVLA_DIST_DIR:?}
arch=${KAVLA_ARCH:?}
if [ "$arch" = x86 ]; then objdump=i686-w64-mingw32-objdump; want_fmt=pei-i386; else objdump=x86_64-w64-mingw32-objdump; want_fmt=pei-x86-64; fi
fail=0
# KnownDLLs of Windows 7 and later that these programs may import.
known='^(kernel32|user32|advapi32|shell32|msvcrt|gdi32|ole32|oleaut32|comdlg32|shlwapi|ws2_32|rpcrt4|sechost|imm32|setupapi|normaliz|psapi|difxapi|clbcatq|wldap32|nsi|imagehlp|lpk|usp10|comctl32)\.dll$'

check_pe() { # file, subsystem wanted
  local f=$1 sub=$2 hdr
  hdr=$($objdump -p "$f")
  if ! $objdump -f "$f" | grep -q "file format $want_fmt"; then echo "FAIL $f: not $want_fmt"; fail=1; fi
  if ! grep -q "^Subsystem.*($sub)" <<<"$hdr"; then echo "FAIL $f: subsystem is not $sub"; fail=1; fi
  local dlls
  dlls=$(grep 'DLL Name:' <<<"$hdr" | awk '{print tolower($3)}' | sort -u)
  for d in $dlls; do
    if ! grep -Eq "$known" <<<"$d"; then echo "FAIL $f: imports $d, which Windows may look for beside the program"; fail=1; fi
    case "$d" in libgcc*|libstdc*|libwinpthread*) echo "FAIL $f: runtime DLL $d (not static)"; fail=1 ;; esac
  done
  echo "ok $f ($sub): $(echo $dlls | tr '\n' ' ')"
}

check_pe "$dist/Setup.exe" "Windows GUI"
for t in kavlapack kavlapwd kavlavrf; do
  [ -f "$dist/$t.exe" ] && check_pe "$dist/$t.exe" "Windows CUI"
done
if ls "$dist"/*.dll >/dev/null 2>&1; then echo "FAIL: DLLs in $dist"; fail=1; fi

# Every library the program loads at run time goes through the system folder:
# no LoadLibrary with a bare name outside the restricted search.
src=${KAVLA_SRC_DIR:?}
calls=$(grep -rn 'LoadLibrary' "$src/setup" "$src/utl" "$src/custom" | grep -v '^\s*//' || true)
while IFS= read -r line; do
  [ -z "$line" ] && continue
  if ! grep -q 'LOAD_LIBRARY_SEARCH_SYSTEM32\|LOAD_LIBRARY_AS_DATAFILE' <<<"$line"; then
    echo "FAIL: LoadLibrary without the system-folder restriction: $line"; fail=1
  fi
done <<<"$calls"
# The first thing the entry does is restricting the DLL search.
first=$(awk '/WinMain\(/{f=1;next} f&&/[a-zA-Z_]+\(/{print;exit}' "$src/setup/main.cpp")
grep -q 'utl_RestrictDllSearch' <<<"$first" || { echo "FAIL: WinMain does not start with utl_RestrictDllSearch: $first"; fail=1; }

size=$(stat -c %s "$dist/Setup.exe")
echo "Setup.exe: $size bytes"
[ "$size" -lt 3300000 ] || { echo "FAIL: Setup.exe is larger than the payload offset"; fail=1; }
exit $fail
