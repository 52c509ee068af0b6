#!/usr/bin/env bash
# The whole setup program on a client protected by an uninstall password and
# on one without protection:
#  1. Setup.exe imports only DLLs that Windows takes from the system folder
#     (KnownDLLs), never one it would first look for beside the program.
#  2. A prefix with a verified KavlaCustom.xml (uninstall 1, a password) and
#     an installed client decides to ask for the password; the dialog that
#     then waits is ended with the prefix's wineserver.
#  3. A prefix without protection goes straight on to the install.
set -euo pipefail

arch=${KAVLA_ARCH:-x64}
dist=${KAVLA_DIST_DIR:?}
setup=$dist/Setup.exe
tool=$dist/kavlavrf.exe
fail=0
say() { printf '%s\n' "$*"; }
bad() { say "FAIL: $*"; fail=1; }

# ---------------------------------------------------------------- imports
objdump=x86_64-w64-mingw32-objdump
[ "$arch" = x86 ] && objdump=i686-w64-mingw32-objdump
# Windows loads these from the system folder whatever lies beside the program.
known=" kernel32 user32 gdi32 advapi32 shell32 msvcrt ole32 oleaut32 comdlg32 shlwapi ws2_32 rpcrt4 \
sechost setupapi imagehlp psapi imm32 normaliz nsi wldap32 clbcatq combase difxapi gdiplus msctf \
shcore coml2 ntdll "
dlls=$("$objdump" -p "$setup" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || bad "no import table read from $setup"
for d in $dlls; do
  base=${d%.dll}
  case "$base" in api-ms-win-*|ext-ms-win-*) continue ;; esac
  case "$known" in
    *" $base "*) say "import $d: system folder only" ;;
    *) bad "Setup.exe imports $d, which Windows would look for beside the program first" ;;
  esac
done
if "$objdump" -p "$setup" | grep -qi dbghelp; then bad "Setup.exe names dbghelp"; fi
if strings -a "$setup" | grep -qi 'dbghelp\|MakeSureDirectoryPathExists'; then
  bad "Setup.exe carries the name of dbghelp or MakeSureDirectoryPathExists"
fi

if [ "${KAVLA_EMULATED:-0}" = 1 ]; then
  # Every Windows process start costs about 45 s under emulation; the
  # whole-program runs need six.
  say "SKIP: whole-program lock runs are made by the 64-bit build"
  exit $fail
fi

# ---------------------------------------------------------------- runs
wineserver=/usr/lib/wine/wineserver
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do
    WINEPREFIX=$p "$wineserver" -k 2>/dev/null || true
    rm -rf "$p"
  done
}
trap cleanup EXIT

# Sets $prefix to a new prefix folder; not in a subshell, so that the
# cleanup sees every prefix made.
new_prefix() {
  prefix=$(mktemp -d "$KAVLA_WINE_ROOT/lock.XXXXXX")
  prefixes+=("$prefix")
}
run_in() { # prefix program args...
  local p=$1; shift
  "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$arch" --keep "$p" "$@"
}
reg32() { # prefix key value type data
  run_in "$1" reg add "HKLM\\$2" /v "$3" /t "$4" /d "$5" /reg:32 /f >/dev/null
}
stp_log() { cat "$1"/drive_c/KavlaLog/stp_setup*.log 2>/dev/null || true; }

# Starts Setup.exe, waits until its uninstall-lock decision is in the log
# (or 180 s pass), then ends every process of the prefix.
run_setup_until() { # prefix line
  local p=$1 line=$2 pid found=0
  run_in "$p" "$setup" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 360); do
    if stp_log "$p" | grep -qF -- "$line"; then found=1; break; fi
    kill -0 "$pid" 2>/dev/null || { stp_log "$p" | grep -qF -- "$line" && found=1; break; }
    sleep 0.5
  done
  WINEPREFIX=$p "$wineserver" -k 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return $((1 - found))
}

client_key='SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}'
reginfo_win='C:\Program Files\Common Files\Kavla\Orvane\reginfo'
plain='Up-grade_7'
stored=$(printf '%s' "$plain" | openssl enc -des-ecb -provider legacy -provider default \
         -K 6d6572766f323733 -nosalt | base64 -w0)

# expect_decision PREFIX LINE WHAT: the setup run in PREFIX logs LINE, else the
# test fails and shows that run's log.
expect_decision() {
  if run_setup_until "$1" "$2"; then say "$3"; else bad "$3: no '$2' line"; stp_log "$1"; fi
}

# Protected: verified KavlaCustom.xml with uninstall 1 and a password, client installed.
new_prefix; p1=$prefix
# The first run fills the prefix; files are added to it afterwards.
reg32 "$p1" "$client_key" DisplayVersion REG_SZ 7.2.1
reginfo="$p1/drive_c/Program Files/Common Files/Kavla/Orvane/reginfo"
mkdir -p "$reginfo"
printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<msg><content><functions><uninstall>1</uninstall><uninstallPassword>%s</uninstallPassword></functions><logoOptions><customIcon>0</customIcon><CusIconName></CusIconName></logoOptions></content></msg>\r\n' \
  "$stored" > "$reginfo/KavlaCustom.xml"
run_in "$p1" "$tool" write "$reginfo_win\\KavlaCustom.xml" || bad "kavlavrf write failed"
run_in "$p1" "$tool" check "$reginfo_win" || bad "kavlavrf check does not accept the pair"
[ "$(stat -c %s "$reginfo/KavlaCustomXml.vrf" 2>/dev/null)" = 256 ] || bad "no 256-byte KavlaCustomXml.vrf"
expect_decision "$p1" "IsUninstallPrompt:Need prompt uninstall password Dlg" \
  "protected client: the setup asks for the uninstall password"
stp_log "$p1" | grep -qF "IsUninstallPrompt:Get UninstallPwd from KavlCustom.xml succ." \
  || bad "protected client: password not taken from KavlaCustom.xml"
stp_log "$p1" | grep -qF "IsUninstallPrompt:Get Version from reg succ. 7.2.1" \
  || bad "protected client: installed version not logged"
if stp_log "$p1" | grep -qF -e "$plain" -e "$stored"; then bad "a password reached the log"; fi

# Unprotected: nothing in reginfo, no registry lock.
new_prefix; p2=$prefix
expect_decision "$p2" "IsUninstallPrompt:!dwResult, return false." \
  "unprotected client: the setup goes straight on to the install"
stp_log "$p2" | grep -qF "IsUninstallPrompt:Get Uninstall from reg failed" \
  || bad "unprotected client: registry fallback not logged"
if cat "$p2"/drive_c/KavlaLog/setup*.log 2>/dev/null | grep -qF "Begin UnpackAndSetup"; then
  bad "unprotected client: the password path was taken"
fi

exit $fail
