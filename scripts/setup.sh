#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12: the native
# and MinGW-w64 toolchains, GoogleTest, Wine (32-bit), Xvfb and the X tools
# the end-to-end tests drive, a CJK font, and the zh_CN.UTF-8 and en_US.UTF-8
# locales (the tests run the program under both).
# Idempotent: a quick no-op when everything is already there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xdotool x11-utils xcompmgr imagemagick fonts-wqy-microhei
  locales python3 python3-pefile python3-pil python3-xlib python3-psutil
  util-linux procps
)
# `setup.sh fuzz` adds clang with its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = fuzz ]; then
  PACKAGES+=(clang libclang-rt-dev)
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

installed() {
  # True when package $1 is fully installed.
  [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

locale_present() {
  # True when locale $1 (e.g. zh_CN) is generated in UTF-8.
  local all
  all=$(locale -a 2>/dev/null || true)
  grep -qix "$1"'\.utf-\?8' <<<"$all"
}

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup.sh: installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386
  fi
  "${SUDO[@]}" apt-get update -q
  unavailable=()
  for p in "${missing[@]}"; do
    # A package with no candidate would make the whole install fail: name it.
    policy=$(apt-cache policy "$p" 2>/dev/null || true)
    if ! grep -q 'Candidate: [0-9]' <<<"$policy"; then
      unavailable+=("$p")
    fi
  done
  if [ "${#unavailable[@]}" -gt 0 ]; then
    echo "setup.sh: not available from the configured apt sources: ${unavailable[*]}" >&2
    exit 1
  fi
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q "${missing[@]}"
fi

for lang in zh_CN en_US; do
  if ! locale_present "$lang"; then
    echo "setup.sh: generating the $lang.UTF-8 locale" >&2
    "${SUDO[@]}" localedef -i "$lang" -c -f UTF-8 -A /usr/share/locale/locale.alias "$lang.UTF-8" \
      || "${SUDO[@]}" localedef -i "$lang" -f UTF-8 "$lang.UTF-8"
  fi
done
