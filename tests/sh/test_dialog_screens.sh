#!/usr/bin/env bash
# Screenshots of the password dialog as a user sees it, in English and in
# Chinese, first and in its retry state, kept under build/<arch>/artifacts.
# Checks along the way that the dialog shows its texts and that the retry
# notice replaces the prompt.
set -euo pipefail
arch=${KAVLA_ARCH:?}
if [ "${KAVLA_EMULATED:-0}" = 1 ]; then
  echo "skipped under emulation: the 64-bit build takes the screenshots"; exit 0
fi
src=${KAVLA_SRC_DIR:?}
source "$src/scripts/harness.sh"
harness_env
harness_base_prefix
harness_xvfb
out=${KAVLA_BUILD_DIR:?}/artifacts
mkdir -p "$out"
dist=${KAVLA_DIST_DIR:?}
bin=${KAVLA_TEST_BIN_DIR:?}
run() { "$WINE_RUN" --root "$KAVLA_WINE_ROOT" --arch "$arch" "$@"; }
fail=0

shoot() { # prefix locale tag
  local prefix=$1 locale=$2 tag=$3 title=$4
  run --keep "$prefix" --env "LC_ALL=$locale" "$dist/Setup.exe" >/dev/null 2>&1 &
  local setup_pid=$!
  local texts
  texts=$(run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" wait "$title" 60000) || {
    echo "FAIL [$tag]: no dialog"; fail=1; WINEPREFIX=$prefix /usr/lib/wine/wineserver -k; wait $setup_pid || true; return; }
  echo "$texts" | iconv -f GBK -t UTF-8 2>/dev/null | sed "s/^/[$tag] /" || true
  sleep 1
  import -display "$DISPLAY" -window root "$out/dialog_$tag.png"
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" type "$title" 1001 wrong >/dev/null
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" press "$title" 1 >/dev/null
  sleep 1
  import -display "$DISPLAY" -window root "$out/dialog_${tag}_retry.png"
  texts=$(run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" texts "$title" | tr -d '\r')
  # Retry state: the notice (id 1002) is visible and the prompt (id -1) empty.
  LC_ALL=C grep -q $'^1002\tStatic\tvisible\t.' <<<"$texts" || { echo "FAIL [$tag]: retry notice not shown"; fail=1; }
  LC_ALL=C grep -q $'^-1\tStatic\tvisible\t$' <<<"$texts" || { echo "FAIL [$tag]: prompt not emptied"; fail=1; }
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" press "$title" 2 >/dev/null
  wait $setup_pid || true
  # The dialog sits in the middle of the screen: crop it for a closer look.
  for f in "$out/dialog_$tag.png" "$out/dialog_${tag}_retry.png"; do
    convert "$f" -gravity center -crop 520x260+0+0 +repage "${f%.png}_crop.png" 2>/dev/null || true
  done
}

for lang in en zh; do
  prefix=$(mktemp -d "$KAVLA_WINE_ROOT/screens.XXXXXX")
  harness_copy_prefix "$prefix"
  export WINEPREFIX=$prefix
  stored=$(printf 'pw' | run --keep "$prefix" --nokill "$dist/kavlapwd.exe" encrypt | tr -d '\r\n')
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Kavla' /v Uninstall /t REG_DWORD /d 1 /f /reg:32 >/dev/null
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Kavla' /v UninstallPwd /t REG_SZ /d "$stored" /f /reg:32 >/dev/null
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}' \
    /v DisplayVersion /t REG_SZ /d 7.1.0 /f /reg:32 >/dev/null
  # Without a window manager on the X server, Wine draws the title bars itself.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
  if [ $lang = en ]; then
    shoot "$prefix" C.UTF-8 en "Uninstall Password"
  else
    # Arguments are Unix text: Wine hands them to the program in code page 936.
    shoot "$prefix" zh_CN.UTF-8 zh "卸载密码"
  fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
done
ls -la "$out"/dialog_*.png
exit $fail
