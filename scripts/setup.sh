#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and the zh_CN.UTF-8
# and en_US.UTF-8 locales the tests run the program under; a quick no-op when
# all is there. `setup.sh fuzz` adds clang with libFuzzer and the sanitizers.
# 32-bit Wine only where this machine runs 32-bit code, found out by trying
# the 32-bit C library's loader (a few MB); elsewhere the tests run the x86_64
# build under wine64 (scripts/wine-arch).
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 xvfb x11-utils xcompmgr fonts-wqy-microhei locales
  python3 python3-pefile python3-pil python3-xlib python3-psutil python3-pytest python3-pytest-timeout
  util-linux procps
)
[ "${1:-}" = fuzz ] && PACKAGES+=(clang libclang-rt-dev)
WINE_32=wine32:i386
LOADER_32=/lib/ld-linux.so.2

SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
apt() { "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q "$@"; }
installed() { [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]; }
runs_32bit() { [ -e "$LOADER_32" ] && "$LOADER_32" --version </dev/null >/dev/null 2>&1; }
add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 || "${SUDO[@]}" dpkg --add-architecture i386
}

if ! runs_32bit && ! installed "$WINE_32" && ! installed libc6:i386; then
  echo "setup.sh: installing libc6:i386 to find out whether this machine runs 32-bit code" >&2
  add_i386
  apt update
  apt install -y libc6:i386
fi
keep_out=()
if runs_32bit; then
  PACKAGES+=("$WINE_32")
else
  echo "setup.sh: this machine cannot run 32-bit code ($LOADER_32 --version fails):" \
    "no 32-bit Wine; Windows programs run as the x86_64 build under wine64" >&2
  # wine64 recommends wine32, which could never run here.
  if dpkg --print-foreign-architectures | grep -qx i386; then keep_out=("$WINE_32-"); fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup.sh: installing: ${missing[*]}" >&2
  [[ " ${missing[*]} " != *":i386 "* ]] || add_i386
  apt update
  apt install -y "${missing[@]}" "${keep_out[@]}"
fi

for lang in zh_CN en_US; do
  if ! grep -qix "$lang\.utf-\?8" <<<"$(locale -a 2>/dev/null)"; then
    echo "setup.sh: generating the $lang.UTF-8 locale" >&2
    "${SUDO[@]}" localedef -i "$lang" -c -f UTF-8 -A /usr/share/locale/locale.alias "$lang.UTF-8" \
      || "${SUDO[@]}" localedef -i "$lang" -f UTF-8 "$lang.UTF-8"
  fi
done
