#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in a throwaway prefix.
#   wine-run.sh [--arch x64|x86] [--root DIR] [--keep PREFIX [--nokill]]
#               [--envfile FILE] [--env NAME=VALUE]... PROGRAM [ARGS...]
# The base prefix is made once per build tree (wineboot, crash dialog off);
# each run gets a fresh copy of it (hard links for the system folders, real
# copies of the registry), so every test has a hermetic Windows of its own.
# Xvfb is started on first use and shared by all runs (harness.sh stops it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=x64
keep=""
nokill=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --nokill) nokill=1; shift ;;
    --root) export KAVLA_WINE_ROOT=$2; shift 2 ;;
    --envfile) source "$2"; shift 2 ;;
    --env) export "${2?}"; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--arch x64|x86] [--keep DIR] PROGRAM [ARGS...]" >&2; exit 2; }
source "$here/harness.sh"
harness_env
harness_base_prefix
harness_xvfb

if [ -n "$keep" ]; then
  prefix=$keep
else
  prefix=$(mktemp -d "$KAVLA_WINE_ROOT/run.XXXXXX")
fi
[ -f "$prefix/system.reg" ] || harness_copy_prefix "$prefix"
export WINEPREFIX=$prefix

loader=/usr/lib/wine/wine64
[ "$arch" = x86 ] && loader=/usr/lib/wine/wine
# Wine's own loader failing to bring the program up is told apart from the
# program failing: only then, and once, is it started again, and that is
# said. Its stderr is kept for the look and passed on when it has ended.
wine_failed_to_start() { # stderr file
  grep -qE '^(wine: (could not|cannot|failed to)|wine client error|wineserver: )' "$1"
}
errf=$(mktemp)
for try in 1 2; do
  set +e
  "$loader" "$@" 2>"$errf"
  rc=$?
  set -e
  cat "$errf" >&2
  if [ $rc = 0 ] || [ $try = 2 ] || ! wine_failed_to_start "$errf"; then break; fi
  echo "wine-run: Wine did not start $1 ($(grep -m1 -E '^(wine|wineserver)' "$errf")); starting it once more" >&2
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
done
rm -f "$errf"
# Programs the test left running (or a wineserver waiting for them) end here,
# unless another program of the same kept prefix is still being driven.
if [ $nokill = 0 ]; then
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
[ -n "$keep" ] || rm -rf "$prefix"
exit $rc
