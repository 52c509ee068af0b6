#!/usr/bin/env bash
# Screenshots of the password dialog as a user sees it, in English and in
# Chinese, at 96 and 144 DPI, first and in its retry state, kept under
# build/<arch>/artifacts (dialog_<lang>_<dpi>[_retry][_crop].png). Checks
# along the way that the dialog shows its texts with its caption, that
# every control lies within the client area and its text fits it in the
# dialog's font, and that the retry notice replaces the prompt.
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

# Control layout in the font setup.rc names for the dialog; fails the run
# when a control is cut or Wine did not draw at the DPI asked for.
check_layout() { # prefix locale tag title dpi
  local prefix=$1 locale=$2 tag=$3 title=$4 dpi=$5 layout x y w h cw ch
  layout=$(run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" layout "$title" 8 Tahoma \
           | tr -d '\r' | iconv -f GBK -t UTF-8) || true
  sed "s/^/[$tag] /" <<<"$layout"
  grep -q "^dpi	$dpi\$" <<<"$layout" || { echo "FAIL [$tag]: not drawn at $dpi DPI"; fail=1; }
  grep -q "^window	.*	$title\$" <<<"$layout" || { echo "FAIL [$tag]: caption is not \"$title\""; fail=1; }
  ! grep -q '^FAIL' <<<"$layout" || { echo "FAIL [$tag]: a control is cut"; fail=1; }
  # The window as the user sees it, title bar included, for a closer look.
  read -r _ x y w h _ < <(grep '^window' <<<"$layout") || true
  read -r _ cw ch < <(grep '^client' <<<"$layout") || true
  geo="$x $y $w $h $cw $ch"
}

# The title bar is drawn: the band above the client area has text on it
# and is neither the dialog's face nor the bare screen behind.
check_caption() { # picture tag
  local pic=$1 tag=$2 x y w h cw ch border bar band face
  read -r x y w h cw ch <<<"$geo"
  border=$(( (w - cw) / 2 )); bar=$(( h - ch - 2 * border ))
  if [ "$bar" -lt 8 ]; then echo "FAIL [$tag]: no room for a title bar ($bar px)"; fail=1; return; fi
  band=$(convert "$pic" -crop "$((cw))x$((bar - 2))+$((x + border))+$((y + border + 1))" -colorspace gray \
         -format '%[fx:mean] %[fx:standard_deviation]' info:)
  face=$(convert "$pic" -crop "4x4+$((x + border + 2))+$((y + h - border - 4))" -colorspace gray -format '%[fx:mean]' info:)
  echo "[$tag] title bar ${bar}px: mean/deviation $band, face $face"
  awk -v b="$band" -v f="$face" 'BEGIN { split(b, v, " "); m = v[1]; d = v[2];
      exit !(d > 0.05 && m > 0.1 && (m - f > 0.1 || f - m > 0.1)) }' \
    || { echo "FAIL [$tag]: no title bar drawn"; fail=1; }
}

shoot() { # prefix locale tag title dpi
  local prefix=$1 locale=$2 tag=$3 title=$4 dpi=$5 geo=""
  run --keep "$prefix" --env "LC_ALL=$locale" "$dist/Setup.exe" >/dev/null 2>&1 &
  local setup_pid=$!
  local texts
  texts=$(run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" wait "$title" 60000) || {
    echo "FAIL [$tag]: no dialog"; fail=1; WINEPREFIX=$prefix /usr/lib/wine/wineserver -k; wait $setup_pid || true; return; }
  sleep 1
  check_layout "$prefix" "$locale" "$tag" "$title" "$dpi"
  import -display "$DISPLAY" -window root "$out/dialog_$tag.png"
  check_caption "$out/dialog_$tag.png" "$tag"
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" type "$title" 1001 wrong >/dev/null
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" press "$title" 1 >/dev/null
  sleep 1
  local first=$geo
  check_layout "$prefix" "$locale" "${tag}_retry" "$title" "$dpi"
  import -display "$DISPLAY" -window root "$out/dialog_${tag}_retry.png"
  texts=$(run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" texts "$title" | tr -d '\r')
  # Retry state: the notice (id 1002) is visible and the prompt (id -1) empty.
  LC_ALL=C grep -q $'^1002\tStatic\tvisible\t.' <<<"$texts" || { echo "FAIL [$tag]: retry notice not shown"; fail=1; }
  LC_ALL=C grep -q $'^-1\tStatic\tvisible\t$' <<<"$texts" || { echo "FAIL [$tag]: prompt not emptied"; fail=1; }
  run --keep "$prefix" --nokill --env "LC_ALL=$locale" "$bin/winhelper.exe" press "$title" 2 >/dev/null
  wait $setup_pid || true
  local x y w h
  read -r x y w h _ <<<"$first"
  for f in "$out/dialog_$tag.png" "$out/dialog_${tag}_retry.png"; do
    convert "$f" -crop "${w}x${h}+${x}+${y}" +repage "${f%.png}_crop.png" 2>/dev/null || true
  done
}

for dpi in 96 144; do
for lang in en zh; do
  prefix=$(mktemp -d "$KAVLA_WINE_ROOT/screens.XXXXXX")
  harness_copy_prefix "$prefix"
  export WINEPREFIX=$prefix
  stored=$(printf 'pw' | run --keep "$prefix" --nokill "$dist/kavlapwd.exe" encrypt | tr -d '\r\n')
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Kavla' /v Uninstall /t REG_DWORD /d 1 /f /reg:32 >/dev/null
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Kavla' /v UninstallPwd /t REG_SZ /d "$stored" /f /reg:32 >/dev/null
  /usr/lib/wine/wine64 reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}' \
    /v DisplayVersion /t REG_SZ /d 7.1.0 /f /reg:32 >/dev/null
  # Without a window manager on the X server, Wine draws the title bars
  # itself: the windows are not managed and carry their own decoration.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null
  # The system DPI, where Wine's display settings keep it.
  /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null
  /usr/lib/wine/wineserver -w
  if [ $lang = en ]; then
    shoot "$prefix" C.UTF-8 "en_$dpi" "Uninstall Password" $dpi
  else
    # Arguments are Unix text: Wine hands them to the program in code page 936.
    shoot "$prefix" zh_CN.UTF-8 "zh_$dpi" "卸载密码" $dpi
  fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
done
done
ls -la "$out"/dialog_*.png
exit $fail
