#!/usr/bin/env bash
# Which Windows build the tests run, as scripts/wine-arch decides it: the
# i686 one where the 32-bit loader runs, the x86_64 one where it does not
# (a machine without 32-bit support, played here by a loader that fails), a
# forced route that cannot run fails at once and says why, and a bad value is
# refused.
set -u
arch_script="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-arch"
failures=0

expect() {
  # expect DESCRIPTION WANT_STATUS WANT_OUTPUT_PATTERN ENV... -- ARGS...
  local what=$1 want_status=$2 pattern=$3
  shift 3
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  local out status
  out=$(env -u KAVRELO_WINE_ARCH "${envs[@]}" bash "$arch_script" "$@" 2>&1)
  status=$?
  if [ "$status" -ne "$want_status" ] || ! grep -qE "$pattern" <<<"$out"; then
    echo "FAIL: $what: status $status, output: $out"
    failures=$((failures + 1))
  else
    echo "ok: $what: $out"
  fi
}

if ! /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  echo "FAIL: wine64 is not installed (scripts/setup.sh installs it)"
  exit 1
fi

expect "a machine that runs 32-bit code" 0 '^i686$' KAVRELO_WINE32_LOADER=/bin/true --
expect "a machine that cannot" 0 '^x86_64$' KAVRELO_WINE32_LOADER=/bin/false --
expect "the reason given" 0 '^as x86_64 under wine64: this machine cannot run 32-bit code$' \
  KAVRELO_WINE32_LOADER=/bin/false -- --why
expect "the build it then runs" 0 '^mingw64$' KAVRELO_WINE32_LOADER=/bin/false -- --preset
expect "no 32-bit loader at all" 0 '^x86_64$' KAVRELO_WINE32_LOADER=/nonexistent/wine --
expect "i686 forced where it cannot run" 1 'KAVRELO_WINE_ARCH=i686.*cannot run 32-bit' \
  KAVRELO_WINE32_LOADER=/bin/false KAVRELO_WINE_ARCH=i686 --
expect "x86_64 forced where 32-bit code runs" 0 '^as x86_64 under wine64: KAVRELO_WINE_ARCH=x86_64' \
  KAVRELO_WINE32_LOADER=/bin/true KAVRELO_WINE_ARCH=x86_64 -- --why
expect "a value that is no architecture" 1 'must be i686 or x86_64' KAVRELO_WINE_ARCH=win32 --

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
