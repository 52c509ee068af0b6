#!/usr/bin/env bash
# Demo: builds Setup.exe with a demo payload, runs it under Wine and Xvfb in a
# throwaway prefix and shows what it did: the setup log, the work folder and
# what the programs it started received.
#   scripts/demo.sh [--arch x64|x86] [--keep-prefix] [--protected]
# --protected: the prefix holds a client locked by an uninstall password;
# the demo finds the password dialog on screen and types the password.
# The payload is made here from real pieces: the real 7za.exe, 7-Zip archives
# made by it, configuration files, an inner component pack, and the project's
# stand-ins for the admission service and the installer (which shows a window
# of its own for a few seconds). Nothing on the machine outside the build
# tree and the throwaway prefix is touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

# The 64-bit build by default: it runs on every machine without an emulator,
# while the 32-bit build goes through qemu-i386 where the kernel runs no
# 32-bit program itself (tens of seconds per process start; a run starts six).
arch=x64
keep_prefix=0
protected=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --keep-prefix) keep_prefix=1; shift ;;
    --protected) protected=1; shift ;;
    *) echo "usage: scripts/demo.sh [--arch x64|x86] [--keep-prefix] [--protected]" >&2; exit 2 ;;
  esac
done
case "$arch" in x64|x86) ;; *) echo "demo: --arch x64 or x86" >&2; exit 2 ;; esac

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

say "Dependencies"
bash scripts/install-deps.sh

# Build trees: the presets' (build/<arch>, dist/<arch>), or private ones
# under KAVLA_DEMO_BUILD (used when the preset trees belong to someone else).
targets=(Setup kavlapack kavlapwd stand_pymApxSvr stand_KavlaSetup pack_files winhelper)
build_arch() { # arch -> sets build_dir, dist_dir
  local a=$1 tc
  [ "$a" = x86 ] && tc=i686 || tc=x86_64
  if [ -n "${KAVLA_DEMO_BUILD:-}" ]; then
    build_dir=$KAVLA_DEMO_BUILD/$a
    dist_dir=$build_dir/dist
    cmake -S . -B "$build_dir" -G Ninja --toolchain "cmake/toolchain-$tc.cmake" \
          -DCMAKE_BUILD_TYPE=Release -DKAVLA_DIST_DIR="$dist_dir" >/dev/null
  else
    build_dir=$top/build/$a
    dist_dir=$top/dist/$a
    cmake --preset "$a" >/dev/null
  fi
  cmake --build "$build_dir" --target "${targets[@]}"
}

say "Build ($arch)"
build_arch "$arch"
tgt_build=$build_dir tgt_dist=$dist_dir
# The payload is made with the 64-bit tools: they never need an emulator.
if [ "$arch" = x86 ]; then
  say "Build (x64 tools for making the payload)"
  build_arch x64
fi
tool_build=$build_dir tool_dist=$dist_dir

demo=$tgt_build/demo
export KAVLA_WINE_ROOT=$demo/wine
rm -rf "$demo"
mkdir -p "$demo/payload" "$demo/src" "$KAVLA_WINE_ROOT"
trap 'bash "$top/scripts/harness.sh" stop >/dev/null 2>&1 || true' EXIT

# Windows tools of the build run in one scratch prefix of their own.
toolprefix=$KAVLA_WINE_ROOT/tools
wtool() { "$top/scripts/wine-run.sh" --arch x64 --keep "$toolprefix" "$@"; }

say "Demo payload"
pl=$demo/payload src=$demo/src
[ "$arch" = x86 ] && sevenza=third_party/7zip-bin/win/ia32/7za.exe || sevenza=third_party/7zip-bin/win/x64/7za.exe
cp "$sevenza" "$pl/7za.exe"
cp "$tgt_build/tests/bin/pymApxSvr.exe" "$tgt_build/tests/bin/KavlaSetup.exe" "$pl/"
# The installer stand-in shows its window this long (milliseconds).
echo 4000 > "$pl/KavlaSetup.stay"

mkdir -p "$src/Qt/plugins/platforms" "$src/WebCmdCustomCfg" "$src/component"
printf 'Qt core library (demo stand-in)\r\n' > "$src/Qt/Qt5Core.dll"
printf 'Qt widgets library (demo stand-in)\r\n' > "$src/Qt/Qt5Widgets.dll"
printf 'Windows platform plugin (demo stand-in)\r\n' > "$src/Qt/plugins/platforms/qwindows.dll"
printf '[Paths]\r\nPlugins=plugins\r\n' > "$src/Qt/qt.conf"
printf '<?xml version="1.0"?>\r\n<webcmd server="gw.demo.example" port="443"/>\r\n' > "$src/WebCmdCustomCfg/webcmd.xml"
printf 'network core (demo stand-in)\r\n' > "$src/component/KavlaNetCore.dll"
printf '[component]\r\nversion=5.2.0\r\n' > "$src/component/component.ini"
printf '<?xml version="1.0"?>\r\n<locations>\r\n  <location name="office"/>\r\n  <location name="branch"/>\r\n</locations>\r\n' > "$pl/locations.xml"
printf '[connection]\r\ndefault=office\r\n' > "$pl/conn_cfg.ini"
printf '<?xml version="1.0"?>\r\n<profile name="office" auth="802.1X"/>\r\n' > "$pl/office-cfg.xml"
printf '<?xml version="1.0"?>\r\n<profile name="branch" auth="portal"/>\r\n' > "$pl/branch-cfg.xml"

host7za=$(winpath "$top/third_party/7zip-bin/win/x64/7za.exe")
wtool "$host7za" a -t7z -bd "$(winpath "$pl/Qt.7z")" "$(winpath "$src/Qt")" >/dev/null
wtool "$host7za" a -t7z -bd "$(winpath "$pl/WebCmdCustomCfg.7z")" "$(winpath "$src/WebCmdCustomCfg")" >/dev/null
wtool "$(winpath "$tool_build/tests/bin/pack_files.exe")" "$(winpath "$pl/KavlaComponent.exe")" \
      "$(winpath "$src/component/KavlaNetCore.dll")" "$(winpath "$src/component/component.ini")"

wtool "$(winpath "$tool_dist/kavlapack.exe")" build "$(winpath "$tgt_dist/Setup.exe")" \
      "$(winpath "$demo/Setup.exe")" "$(winpath "$pl")" >/dev/null
echo "Setup.exe: $(stat -c %s "$demo/Setup.exe") bytes ($(stat -c %s "$tgt_dist/Setup.exe") program, padded to 3300000, then the payload):"
wtool "$(winpath "$tool_dist/kavlapack.exe")" list "$(winpath "$demo/Setup.exe")" | tr -d '\r' | sed 's/^/  /'

say "Run Setup.exe ($arch) under Wine and Xvfb"
source "$top/scripts/harness.sh"
harness_env
harness_base_prefix
harness_xvfb
prefix=$KAVLA_WINE_ROOT/prefix
harness_copy_prefix "$prefix"
downloads=$prefix/drive_c/users/Public/Downloads
mkdir -p "$downloads"
cp "$demo/Setup.exe" "$downloads/Setup.exe"
echo "C:\\users\\Public\\Downloads\\Setup.exe in $prefix"

if [ $protected = 1 ]; then
  # The installed client, locked by an uninstall password kept in the
  # registry as its stored (encrypted) text.
  password=demo-pass-1
  stored=$(printf '%s' "$password" | wtool "$(winpath "$tool_dist/kavlapwd.exe")" encrypt | tr -d '\r\n')
  regadd() { WINEPREFIX=$prefix /usr/lib/wine/wine64 reg add "$@" /f /reg:32 >/dev/null; }
  regadd 'HKLM\SOFTWARE\Kavla' /v Uninstall /t REG_DWORD /d 1
  regadd 'HKLM\SOFTWARE\Kavla' /v UninstallPwd /t REG_SZ /d "$stored"
  regadd 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3D92A0C4-6E1B-47F8-A5D3-90C2E7B1F468}' \
         /v DisplayVersion /t REG_SZ /d 7.1.0
  echo "protected client: password \"$password\", stored as $stored"
fi

t0=$(date +%s%N)
( cd "$downloads" && exec "$top/scripts/wine-run.sh" --arch "$arch" --keep "$prefix" 'C:\users\Public\Downloads\Setup.exe' ) &
run_pid=$!
if [ $protected = 1 ]; then
  helper() { "$top/scripts/wine-run.sh" --arch x64 --keep "$prefix" --nokill \
               "$(winpath "$tool_build/tests/bin/winhelper.exe")" "$@" | tr -d '\r'; }
  say "Password dialog"
  helper wait "Uninstall Password" 120000 | sed 's/^/  /'
  import -window root "$demo/password-dialog.png" 2>/dev/null || true
  echo "typing the password and pressing OK (picture: $demo/password-dialog.png)"
  helper type "Uninstall Password" 1001 "$password"
  helper press "Uninstall Password" 1
fi
# Watch for the installer's window as a person would see it, and keep a picture of it.
seen=""
while kill -0 "$run_pid" 2>/dev/null; do
  if [ -z "$seen" ] && xwininfo -root -tree 2>/dev/null | grep -q '"Kavla Client Installer (stand-in)"'; then
    seen=$(( ($(date +%s%N) - t0) / 1000000 ))
    sleep 0.5
    import -window root "$demo/installer-window.png" 2>/dev/null || true
    echo "installer window on screen after $seen ms (picture: $demo/installer-window.png)"
  fi
  sleep 0.2
done
wait "$run_pid" || true
t1=$(date +%s%N)
wall_ms=$(( (t1 - t0) / 1000000 ))
[ -n "$seen" ] || echo "the installer window was not seen"

say "Setup log (C:\\KavlaLog\\setup*.log)"
cat "$prefix"/drive_c/KavlaLog/setup*.log 2>/dev/null | tr -d '\r' || echo "(no setup log)"

say "Work folder C:\\tmp\\KavlaSetup0"
w=$prefix/drive_c/tmp/KavlaSetup0
if [ -d "$w" ]; then
  (cd "$w" && find . -mindepth 1 | sort | while read -r f; do
     if [ -d "$f" ]; then printf '  %-48s <dir>\n' "${f#./}"; else printf '  %-48s %8s bytes\n' "${f#./}" "$(stat -c %s "$f")"; fi
   done)
else
  echo "(no work folder)"
fi

say "What the started programs received (C:\\kavla_standins.log)"
log=$prefix/drive_c/kavla_standins.log
if [ -f "$log" ]; then
  tr -d '\r' < "$log" | awk -F'\t' '{
    for (i = 1; i <= NF; i++) { k = substr($i, 1, index($i, "=") - 1); v[k] = substr($i, index($i, "=") + 1) }
    show = v["show"] == 0 ? "hidden" : (v["show"] == 5 ? "shown" : "show " v["show"])
    if (v["event"] == "start")
      printf "  %s  %-10s start  (%s, folder %s)\n      command line: %s\n", substr(v["time"], 12), v["name"], show, v["cwd"], v["cmd"]
    else
      printf "  %s  %-10s %s\n", substr(v["time"], 12), v["name"], v["event"]
  }'
else
  echo "(nothing was started)"
fi

say "Timing"
setup_log=$(cat "$prefix"/drive_c/KavlaLog/setup*.log 2>/dev/null | tr -d '\r' || true)
started=$(printf '%s\n' "$setup_log" | sed -n 's/.*is-stp started at \([0-9]*\)$/\1/p' | tail -1)
ended=$(printf '%s\n' "$setup_log" | sed -n 's/.*is-stp ended at \([0-9]*\)\.$/\1/p' | tail -1)
printf '  whole run, Wine start to end:            %6d ms\n' "$wall_ms"
if [ -f "$log" ] && [ -n "$started" ] && [ -n "$ended" ]; then
  # The stand-ins stamp their events with the host's clock (unixms).
  tr -d '\r' < "$log" | awk -F'\t' -v t0="$(( t0 / 1000000 ))" -v t1="$(( t1 / 1000000 ))" \
      -v started="$started" -v ended="$ended" '
    { for (i = 1; i <= NF; i++) { k = substr($i, 1, index($i, "=") - 1); v[k] = substr($i, index($i, "=") + 1) }
      key = v["name"] "_" v["event"]; n[key]++; at[key "_" n[key]] = v["unixms"] + 0 }
    END {
      ps1 = at["pymApxSvr_start_1"]; pe1 = at["pymApxSvr_end_1"]; ps2 = at["pymApxSvr_start_2"]; pe2 = at["pymApxSvr_end_2"]
      ks = at["KavlaSetup_start_1"]; ke = at["KavlaSetup_end_1"]
      svc_run = (pe1 - ps1) + (pe2 - ps2)
      printf "  start, checks, unpack, two 7-Zip runs:   %6d ms\n", ps1 - t0
      printf "  admission service hand-over:             %6d ms  (the service ran %d ms of it)\n", ks - ps1, svc_run
      printf "  installer on screen and awaited:         %6d ms  (its own running time)\n", ke - ks
      printf "  after the installer ended, until exit:   %6d ms\n", t1 - ke
      polls = ended * 500 + started * 50
      printf "  fixed waits of the driver in this run:\n"
      printf "    admission service: 2 x 300 ms after its starts, then 500 ms polls while it runs\n"
      printf "      (the hand-over took %d ms more than the service'"'"'s own running, process starts included)\n", (ks - ps1) - svc_run
      printf "    installer: %d x 50 ms to appear, %d x 500 ms until it ended = %d ms\n", started, ended, polls
    }'
fi

bash "$top/scripts/harness.sh" stop >/dev/null 2>&1 || true
if [ $keep_prefix = 1 ]; then
  echo; echo "prefix kept: $prefix"
else
  rm -rf "$prefix" "$toolprefix"
fi
