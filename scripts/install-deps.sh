#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Kavla Setup.
# Idempotent: every step checks first, so a second run takes seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
tp="$here/third_party"
need_root() { [ "$(id -u)" = 0 ] || { echo "install-deps: run as root" >&2; exit 1; }; }
# A mirror in the middle of a sync serves index files of the wrong size for a
# few minutes: every download (apt, npm) is tried again before the run gives up.
retry() {
  local i
  for i in 1 2 3; do
    "$@" && return 0
    echo "install-deps: '$*' failed (try $i of 3)" >&2
    [ $i = 3 ] || sleep $((i * 15))
  done
  return 1
}
apt_opts=(-o Acquire::Retries=5 -o Acquire::http::Timeout=60)

# The win32 thread model: the POSIX one links winpthreads, which imports
# GetTickCount64, a name Windows XP lacks, so XP would refuse Setup.exe.
pkgs=(g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
      cmake ninja-build make wine wine64 xvfb x11-utils xauth imagemagick
      googletest locales dpkg-dev osslsigncode openssl fonts-wqy-microhei nsis)
pkgs32=(wine32:i386 libwine:i386)

missing=()
for p in "${pkgs[@]}" "${pkgs32[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm usually comes with the machine's Node.js; Debian's own npm only where it lacks.
command -v npm >/dev/null || missing+=(npm)

# Source entries for the two libraries built with the project: the Debian 12
# package of TinyXML (with its security patches) and Debian 13's mbedTLS 3.6.
# The mirror is taken from the machine's own apt configuration.
src_list=/etc/apt/sources.list.d/kavla-src.sources
if [ ! -f "$src_list" ]; then
  need_root
  uri=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [ -n "$uri" ] || uri=$(awk '$1=="deb"{print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$uri" ] || { echo "install-deps: no Debian mirror configured" >&2; exit 1; }
  cat > "$src_list" <<SRC
Types: deb-src
URIs: $uri
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: $uri
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  # Binary packages stay on bookworm: trixie is for source only.
  updated=0
fi

if [ ${#missing[@]} -gt 0 ] || [ "${updated:-1}" = 0 ] \
   || [ ! -d "$tp/tinyxml" ] || [ ! -d "$tp/mbedtls" ]; then
  need_root
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  # An index that still fails after the tries is left at its old copy: the
  # install below fails by itself if a package it needs is not listed.
  # When the index that is missing is the security archive's for one
  # architecture only, the pairs of a multiarch library no longer match (the
  # 64-bit one from the security archive, the 32-bit one from the release):
  # the install then takes every package from the point release instead.
  pin=()
  if ! retry apt-get "${apt_opts[@]}" update -qq; then
    echo "install-deps: some package lists could not be updated; going on with the point release" >&2
    prefs=$(mktemp)
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 99\n' > "$prefs"
    pin=(-o "Dir::Etc::Preferences=$prefs")
  fi
  [ ${#missing[@]} -eq 0 ] \
    || retry apt-get "${apt_opts[@]}" "${pin[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi

# zh_CN.UTF-8 so that Wine converts Chinese texts through code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  need_root
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# 32-bit programs (32-bit Wine, so the shipped build's tests) run natively
# where the kernel can; only where it cannot are they sent through qemu-i386
# by binfmt_misc. The check runs 32-bit libc's loader with any qemu-i386 entry
# disabled, so that an entry left by an earlier run cannot answer for the
# kernel; a kernel that runs it itself keeps the entry disabled.
binfmt=/proc/sys/fs/binfmt_misc
native32() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if [ -e $binfmt/qemu-i386 ]; then
  need_root
  echo 0 > $binfmt/qemu-i386
  if ! native32; then echo 1 > $binfmt/qemu-i386; fi
elif ! native32; then
  need_root
  if ! dpkg-query -W -f='${Status}' qemu-user 2>/dev/null | grep -q 'install ok installed'; then
    retry apt-get "${apt_opts[@]}" install -y -qq --no-install-recommends qemu-user
  fi
  [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt || true
  if [ -w $binfmt/register ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
      > $binfmt/register || echo "install-deps: binfmt registration failed" >&2
  fi
fi

# Library sources, unpacked with Debian's patches applied.
fetch_src() { # name package suite
  local dir="$tp/$1"
  [ -d "$dir" ] && return 0
  mkdir -p "$tp/.dl"
  (cd "$tp/.dl" && rm -rf ./* && retry apt-get "${apt_opts[@]}" source -qq "$2/$3" >/dev/null)
  local d
  d=$(find "$tp/.dl" -mindepth 1 -maxdepth 1 -type d | head -n1)
  mv "$d" "$dir"
  rm -rf "$tp/.dl"
}
fetch_src tinyxml tinyxml bookworm
fetch_src mbedtls mbedtls trixie

# The real 7-Zip console extractor, for the payload of tests and the demo.
if [ ! -f "$tp/7zip-bin/win/x64/7za.exe" ]; then
  mkdir -p "$tp/.npm"
  (cd "$tp/.npm" && retry npm pack --silent 7zip-bin >/dev/null && tar xzf 7zip-bin-*.tgz)
  rm -rf "$tp/7zip-bin"; mv "$tp/.npm/package" "$tp/7zip-bin"; rm -rf "$tp/.npm"
fi
echo "install-deps: ready"
