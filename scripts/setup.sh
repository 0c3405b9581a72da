#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12: the native
# and MinGW-w64 toolchains (both: the i686 one is a 64-bit program and builds
# Kavrelo.exe everywhere), GoogleTest, Wine, Xvfb and the X tools the
# end-to-end tests drive, a CJK font, and the zh_CN.UTF-8 and en_US.UTF-8
# locales (the tests run the program under both).
# 32-bit Wine (wine32:i386 and the i386 libraries it pulls in) only where this
# machine runs 32-bit code: found out by installing the 32-bit C library alone
# and starting its loader. Elsewhere the tests run the x86_64 build under
# wine64 (scripts/wine-arch).
# Idempotent: a quick no-op when everything is already there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64
  xvfb xdotool x11-utils xcompmgr fonts-wqy-microhei
  locales python3 python3-pefile python3-pil python3-xlib python3-psutil
  python3-pytest python3-pytest-timeout
  util-linux procps
)
# `setup.sh fuzz` adds clang with its libFuzzer and sanitizer runtimes.
if [ "${1:-}" = fuzz ]; then
  PACKAGES+=(clang libclang-rt-dev)
fi
# Installed only where 32-bit code runs.
PACKAGES_32=(wine32:i386)

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

export DEBIAN_FRONTEND=noninteractive
apt_updated=
apt_update() {
  if [ -z "$apt_updated" ]; then
    "${SUDO[@]}" apt-get update -q
    apt_updated=1
  fi
}

# The 32-bit C library's loader (/lib/ld-linux.so.2) runs only where the
# kernel runs 32-bit code; elsewhere it fails with "Exec format error".
LOADER_32=/lib/ld-linux.so.2
runs_32bit() {
  [ -e "$LOADER_32" ] && "$LOADER_32" --version </dev/null >/dev/null 2>&1
}

want_32=
if runs_32bit; then
  want_32=1
else
  missing_32=()
  for p in "${PACKAGES_32[@]}"; do
    installed "$p" || missing_32+=("$p")
  done
  if [ "${#missing_32[@]}" -gt 0 ] && ! installed libc6:i386; then
    # Found out by trying: the 32-bit C library alone (a few MB).
    echo "setup.sh: installing libc6:i386 to find out whether this machine runs 32-bit code" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${SUDO[@]}" dpkg --add-architecture i386
    fi
    apt_update
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q libc6:i386
    runs_32bit && want_32=1
  fi
fi
if [ -n "$want_32" ]; then
  PACKAGES+=("${PACKAGES_32[@]}")
else
  echo "setup.sh: this machine cannot run 32-bit code ($LOADER_32 --version fails):" \
    "no 32-bit Wine; Windows programs run as the x86_64 build under wine64" >&2
fi

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup.sh: installing: ${missing[*]}" >&2
  if [ -n "$want_32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${SUDO[@]}" dpkg --add-architecture i386
    apt_updated=
  fi
  apt_update
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
  keep_out=()
  if [ -z "$want_32" ] && dpkg --print-foreign-architectures | grep -qx i386; then
    # wine64 recommends wine32: none of it could ever run here.
    for p in "${PACKAGES_32[@]}"; do
      installed "$p" || keep_out+=("$p-")
    done
  fi
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q "${missing[@]}" "${keep_out[@]}"
fi

for lang in zh_CN en_US; do
  if ! locale_present "$lang"; then
    echo "setup.sh: generating the $lang.UTF-8 locale" >&2
    "${SUDO[@]}" localedef -i "$lang" -c -f UTF-8 -A /usr/share/locale/locale.alias "$lang.UTF-8" \
      || "${SUDO[@]}" localedef -i "$lang" -f UTF-8 "$lang.UTF-8"
  fi
done
