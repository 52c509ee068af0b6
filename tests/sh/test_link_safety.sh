#!/usr/bin/env bash
# The elevated setup program against links that a local user plants in the
# folders at the root of the system drive. Unix symlinks and hard links in
# the prefix stand for junctions, symbolic links and NTFS hard links; their
# targets lie outside drive_c. Every run shows that every target keeps its
# bytes and permissions. Wine opens a unix symlink's target whatever the
# flags, and removes the target for any removal by name, so a symlink can
# never be removed safely here: the step that needs its place fails as the
# install driver defines, or the line is dropped, and the link stays.
#   1. C:\tmp is a link: the work folder cannot be made (351).
#   2. C:\tmp\KavlaSetup0 is a link: 351.
#   3. C:\KavlaLog is a link, with an old log of today's weekday there that
#      the ring would delete: no line lands there; the installer is started.
#   4. Inside a real work folder: DAM and WebCmdCustomCfg are links to
#      folders (left alone, the install goes on), a stale file is a hard
#      link (its name removed); inside a real log folder: today's UtlFile
#      module log is a hard link (replaced by a real file) and an old file of
#      today's weekday, which the ring deletes, is a link to a file.
#   5. Today's setup log is a link to a file: the setup's lines are dropped,
#      the installer is started.
#   6. Another process holds the log writers' lock byte of today's setup
#      log, as any reader of it can: the setup ends in normal time, with its
#      lines, and starts the installer.
#   7. The setup is started through a second drive letter for its folder
#      (what SUBST makes), in MSI mode: the MSI copy beside it is made whole
#      and the installer started.
# In run 4 a link also stands at Qt: the earlier run's folder is not used
# again, it is moved aside whole, and a new work folder made.
set -euo pipefail

arch=${KAVLA_ARCH:-x64}
dist=${KAVLA_DIST_DIR:?}
bin=${KAVLA_TEST_BIN_DIR:?}
fail=0
say() { printf '%s\n' "$*"; }
bad() { say "FAIL: $*"; fail=1; }
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

source "$(dirname "$0")/../../scripts/harness.sh"
harness_env
harness_base_prefix
wineserver=/usr/lib/wine/wineserver
work=$(mktemp -d "$KAVLA_WINE_ROOT/links.XXXXXX")
trap 'for p in "$work"/p*; do WINEPREFIX=$p $wineserver -k 2>/dev/null || true; done; rm -rf "$work"' EXIT
run_in() { local p=$1; shift; "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$arch" --keep "$p" "$@"; }

# ---------------------------------------------------------------- payload
pl=$work/payload
mkdir -p "$pl" "$work/tools"
cp "$bin/pymApxSvr.exe" "$bin/KavlaSetup.exe" "$pl/"
echo 200 > "$pl/KavlaSetup.stay"
printf '<profile name="office"/>\r\n' > "$pl/office-cfg.xml"
"$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$arch" --keep "$work/tools" \
  "$(winpath "$dist/kavlapack.exe")" build "$(winpath "$dist/Setup.exe")" \
  "$(winpath "$work/Setup.exe")" "$(winpath "$pl")" >/dev/null || bad "kavlapack build failed"

# ---------------------------------------------------------------- targets
# What the links lead to: folders and files outside drive_c, one of them
# read-only, whose bytes and modes must stay as they are.
victim=$work/victim
make_victim() { # folder
  mkdir -p "$1/KavlaSetup0" "$1/sub"
  printf 'precious %s\r\n' "$1" > "$1/keep.txt"
  printf 'read-only %s\r\n' "$1" > "$1/ro.txt"; chmod 444 "$1/ro.txt"
  printf 'inner\r\n' > "$1/KavlaSetup0/inner.txt"
  printf 'deep\r\n' > "$1/sub/deep.txt"
}
fingerprint() { (cd "$victim" && find . -printf '%p %y %m %s\n' | sort && find . -type f -exec sha256sum {} + | sort); }

today=$(date +%Y%m%d)
wd=$(printf '%02d' "$(date +%w)")
old="setup20000101${wd}.log"

new_prefix() { # name -> $prefix, drive_c ready
  prefix=$work/$1
  harness_copy_prefix "$prefix"
  mkdir -p "$prefix/drive_c"
}

# Runs the setup program in the prefix until it has ended.
run_setup() { # prefix
  mkdir -p "$1/drive_c/users/Public"
  cp "$work/Setup.exe" "$1/drive_c/users/Public/Setup.exe"
  run_in "$1" 'C:\users\Public\Setup.exe' >/dev/null 2>&1 || true
}
# The setup log of the run: a real file of one name ending with "Exit main".
setup_log() { # prefix what
  local log
  log=$(ls "$1"/drive_c/KavlaLog/setup"$today"*.log 2>/dev/null | head -n1 || true)
  if [ -z "$log" ] || [ -L "$log" ] || [ "$(stat -c %h "$log")" != 1 ]; then
    bad "$2: no real setup log"; return
  fi
  tail -n1 "$log" | grep -q 'Exit main' || bad "$2: the setup log does not end with Exit main"
  cat "$log"
}
installer_started() { grep -q 'name=KavlaSetup'$'\t''event=end' "$1/drive_c/kavla_standins.log" 2>/dev/null; }
untouched() { # before what
  if [ "$1" = "$(fingerprint)" ]; then say "$2: targets untouched"
  else bad "$2: a target was changed"; diff <(echo "$1") <(fingerprint) || true; fi
}

# ---------------------------------------------------------------- runs 1, 2
make_victim "$victim/tmp"; make_victim "$victim/work"
before=$(fingerprint)
new_prefix p1
ln -s "$victim/tmp" "$prefix/drive_c/tmp"
run_setup "$prefix"
setup_log "$prefix" "C:\\tmp as a link" | grep -q 'install failed with Err 351.' \
  || bad "C:\\tmp as a link: no 351"
installer_started "$prefix" && bad "C:\\tmp as a link: the installer was started"
new_prefix p2
mkdir -p "$prefix/drive_c/tmp"
ln -s "$victim/work" "$prefix/drive_c/tmp/KavlaSetup0"
run_setup "$prefix"
setup_log "$prefix" "work folder as a link" | grep -q 'install failed with Err 351.' \
  || bad "work folder as a link: no 351"
[ -L "$prefix/drive_c/tmp/KavlaSetup0" ] || bad "work folder as a link: the link was not left in place"
untouched "$before" "links at C:\\tmp and at the work folder (351)"

# ---------------------------------------------------------------- run 3
make_victim "$victim/log"
printf 'an old log of today\r\n' > "$victim/log/$old"
before=$(fingerprint)
new_prefix p3
ln -s "$victim/log" "$prefix/drive_c/KavlaLog"
run_setup "$prefix"
installer_started "$prefix" || bad "C:\\KavlaLog as a link: the installer was not started"
untouched "$before" "link at C:\\KavlaLog (lines dropped, install goes on)"

# ---------------------------------------------------------------- run 4
make_victim "$victim/dam"; make_victim "$victim/cmd"
printf 'hard-linked file\r\n' > "$victim/hard.txt"
printf 'module log target\r\n' > "$victim/modlog.txt"
printf 'ring target\r\n' > "$victim/ring.txt"; chmod 444 "$victim/ring.txt"
before=$(fingerprint)
new_prefix p4
w=$prefix/drive_c/tmp/KavlaSetup0 l=$prefix/drive_c/KavlaLog
mkdir -p "$w" "$l"
ln -s "$victim/dam" "$w/DAM"
ln -s "$victim/cmd" "$w/WebCmdCustomCfg"
ln -s "$victim/dam" "$w/Qt"
ln "$victim/hard.txt" "$w/stale.txt"
ln "$victim/modlog.txt" "$l/stp_UtlFile$today$wd.log"
ln -s "$victim/ring.txt" "$l/$old"
run_setup "$prefix"
log=$(setup_log "$prefix" "links inside the work and log folders")
grep -q 'is-stp ended at' <<<"$log" && ! grep -q 'install failed' <<<"$log" \
  || bad "links inside the work and log folders: the install did not go on"
untouched "$before" "links inside the work and log folders"
[ -e "$w/stale.txt" ] && bad "the hard-linked stale file is still in the work folder"
[ -n "$(find "$w" -ipath '*/data/office/cfg.xml')" ] || bad "the profile file was not placed"
mod=$l/stp_UtlFile$today$wd.log
[ -f "$mod" ] && [ "$(stat -c %h "$mod")" = 1 ] && grep -q 'utl_FileUnpack' "$mod" \
  || bad "the UtlFile log is not a real file of its own with the unpack's lines"

# ---------------------------------------------------------------- run 5
printf 'setup log target\r\n' > "$victim/setuplog.txt"
before=$(fingerprint)
new_prefix p5
mkdir -p "$prefix/drive_c/KavlaLog"
ln -s "$victim/setuplog.txt" "$prefix/drive_c/KavlaLog/setup$today$wd.log"
run_setup "$prefix"
installer_started "$prefix" || bad "today's setup log as a link: the installer was not started"
untouched "$before" "today's setup log as a link (lines dropped, install goes on)"

# ---------------------------------------------------------------- run 6
new_prefix p6
mkdir -p "$prefix/drive_c/KavlaLog"
printf 'a line of today\r\n' > "$prefix/drive_c/KavlaLog/setup$today$wd.log"
run_in "$prefix" --nokill "$(winpath "$bin/log_writer.exe")" lock 'C:\KavlaLog\'"setup$today$wd.log" 900000 \
  >/dev/null 2>&1 &
holder=$!
for _ in $(seq 600); do [ -e "$prefix/drive_c/KavlaLog/setup$today$wd.log.locked" ] && break; sleep 0.5; done
[ -e "$prefix/drive_c/KavlaLog/setup$today$wd.log.locked" ] || bad "the lock holder did not take the lock"
t0=$SECONDS
mkdir -p "$prefix/drive_c/users/Public"
cp "$work/Setup.exe" "$prefix/drive_c/users/Public/Setup.exe"
timeout 1200 "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$arch" --keep "$prefix" --nokill \
  'C:\users\Public\Setup.exe' >/dev/null 2>&1 || bad "a held log lock: the setup did not end (after $((SECONDS - t0)) s)"
say "a held log lock: the setup ran $((SECONDS - t0)) s"
installer_started "$prefix" || bad "a held log lock: the installer was not started"
setup_log "$prefix" "a held log lock" | grep -q 'is-stp ended at' || bad "a held log lock: the setup's lines are missing"
kill $holder 2>/dev/null || true
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true

# ---------------------------------------------------------------- run 7
new_prefix p7
mkdir -p "$prefix/drive_c/users/Public" "$prefix/drive_c/msisrc"
cp "$work/Setup.exe" "$prefix/drive_c/users/Public/Setup.exe"
cp "$work/Setup.exe" "$prefix/drive_c/msisrc/Kavla.msi"
ln -s "$prefix/drive_c/users/Public" "$prefix/dosdevices/s:"
regadd() { WINEPREFIX=$prefix /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Kavla' /v "$1" /t "$2" /d "$3" /f /reg:32 >/dev/null 2>&1; }
regadd InstallByMsi REG_DWORD 1
regadd MsiSourceName REG_SZ 'C:\msisrc\Kavla.msi'
WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null || true
run_in "$prefix" 'S:\Setup.exe' >/dev/null 2>&1 || true
log=$(setup_log "$prefix" "a second drive letter")
grep -q 'InstallScript has copy msi file.\|install failed' <<<"$log" && bad "a second drive letter: $(grep -m1 'install failed\|InstallScript' <<<"$log")"
cmp -s "$prefix/drive_c/msisrc/Kavla.msi" "$prefix/drive_c/users/Public/KavlaSetup.msi" \
  || bad "a second drive letter: KavlaSetup.msi is not a whole copy"
installer_started "$prefix" || bad "a second drive letter: the installer was not started"

[ $fail = 0 ] && say "1 passed, 0 failed" || say "0 passed, 1 failed"
exit $fail
