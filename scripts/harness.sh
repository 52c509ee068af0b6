#!/usr/bin/env bash
# Shared pieces of the Wine test harness; sourced by wine-run.sh, or run as
#   harness.sh stop     stop the harness's Xvfb and wineservers
#   harness.sh prefix   make the base prefix now
harness_env() {
  # KAVLA_WINEDEBUG=warn+heap (say) turns Wine's own checks on for one run.
  export WINEDEBUG=${KAVLA_WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
  local top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  # Per build tree: Xvfb and the run prefixes. Shared by all trees: the base prefix.
  : "${KAVLA_WINE_ROOT:=$top/build/wine}"
  : "${KAVLA_WINE_BASE:=$top/build/wine-base}"
  export KAVLA_WINE_ROOT KAVLA_WINE_BASE
  mkdir -p "$KAVLA_WINE_ROOT" "$(dirname "$KAVLA_WINE_BASE")"
  export KAVLA_DISPLAY_NUM=${KAVLA_DISPLAY_NUM:-$(( 40 + $(printf '%s' "$KAVLA_WINE_ROOT" | cksum | cut -d' ' -f1) % 400 ))}
  export DISPLAY=:$KAVLA_DISPLAY_NUM
}

# The base prefix: made once, under a lock, never used to run tests itself.
harness_base_prefix() {
  local base=$KAVLA_WINE_BASE
  [ -f "$base/.kavla-ready-2" ] && return 0
  (
    flock 9
    [ -f "$base/.kavla-ready-2" ] && exit 0
    rm -rf "$base"
    export WINEPREFIX=$base
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
    # A crashing program must fail its test, not wait in a dialog.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # Nor wait for a debugger: Wine's own hangs in 32-bit Wine under
    # qemu-i386. With none to start, the crashed program ends at once.
    local key
    for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
               'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
      /usr/lib/wine/wine64 reg add "$key" /v Debugger /d 'kavla-no-debugger.exe %ld %ld' /f >/dev/null 2>&1
    done
    /usr/lib/wine/wineserver -w
    touch "$base/.kavla-ready-2"
  ) 9>"$KAVLA_WINE_BASE.lock"
}

harness_copy_prefix() { # destination
  local base=$KAVLA_WINE_BASE dst=$1
  mkdir -p "$dst"
  cp -a "$base"/*.reg "$base/.update-timestamp" "$dst/"
  cp -a "$base/dosdevices" "$dst/"
  # System files are shared read-mostly through hard links: tests only add
  # files. A prefix on another filesystem (a benchmark's, in memory) copies them.
  if [ "$(stat -c %d "$base")" = "$(stat -c %d "$dst")" ]; then
    cp -al "$base/drive_c" "$dst/drive_c"
  else
    cp -a "$base/drive_c" "$dst/drive_c"
  fi
  rm -f "$dst/.kavla-ready-2"
}

harness_xvfb() {
  local pidf=$KAVLA_WINE_ROOT/xvfb.pid
  (
    flock 9
    if [ -f "$pidf" ] && kill -0 "$(cat "$pidf")" 2>/dev/null; then exit 0; fi
    rm -f "/tmp/.X${KAVLA_DISPLAY_NUM}-lock" "/tmp/.X11-unix/X${KAVLA_DISPLAY_NUM}"
    Xvfb ":$KAVLA_DISPLAY_NUM" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 9>&- &
    echo $! > "$pidf"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${KAVLA_DISPLAY_NUM}" ] && break; sleep 0.1; done
  ) 9>"$KAVLA_WINE_ROOT/xvfb.lock"
}

harness_stop() {
  local pidf=$KAVLA_WINE_ROOT/xvfb.pid
  if [ -f "$pidf" ]; then kill "$(cat "$pidf")" 2>/dev/null || true; rm -f "$pidf"; fi
  for p in "$KAVLA_WINE_ROOT"/run.*; do
    [ -d "$p" ] && WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
  rm -rf "$KAVLA_WINE_ROOT"/run.*
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  harness_env
  case "${1:-}" in
    stop) harness_stop ;;
    prefix) harness_base_prefix ;;
    xvfb) harness_xvfb ;;
    *) echo "usage: harness.sh stop|prefix|xvfb" >&2; exit 2 ;;
  esac
fi
