#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 or 13, and the
# zh_CN.UTF-8 and en_US.UTF-8 locales the tests run the program under; a quick
# no-op, without root, when all is there. `setup.sh fuzz` adds clang with
# libFuzzer and the sanitizers.
#
# 32-bit Wine only where this machine runs 32-bit code. That is found out
# without changing the machine: a 32-bit program of 148 bytes
# (scripts/uname32.S), written to a temporary folder, asks the kernel for its
# machine name; it must run, natively (an emulator registered with the kernel
# answers with the emulated processor's name instead), and a native program
# must run from the same folder (a folder mounted noexec proves nothing).
# The i386 architecture is added only where 32-bit Wine is installed.
#
# apt-get update runs at most once, only when something is missing. An index
# that fails (a mirror in the middle of a sync, a third-party source that is
# down) is a warning naming it where apt can still install what is missing
# (asked with apt-get -s), and an error otherwise. A lock of the package
# manager held by another process (unattended-upgrades, apt-daily) is waited
# for, up to KAVRELO_APT_LOCK_WAIT seconds (default 600), naming the holder.
#
# Exit status: 0 done; 1 apt-get or locale-gen failed; 3 root is needed and
# neither root nor a usable sudo is there (the command to run as root is
# printed); 4 the package manager's lock stayed held; 5 the package lists
# could not be updated and what is missing cannot be installed without them.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb x11-utils xcompmgr fonts-wqy-microhei fonts-liberation locales
  python3 python3-pefile python3-pil python3-xlib python3-psutil python3-pytest python3-pytest-timeout
  util-linux procps
)
[ "${1:-}" = fuzz ] && PACKAGES+=(clang libclang-rt-dev)
WINE_32=wine32:i386
LOCALES=(zh_CN.UTF-8 en_US.UTF-8)
LOCK_WAIT=${KAVRELO_APT_LOCK_WAIT:-600}
case "$LOCK_WAIT" in ''|*[!0-9]*) echo "setup.sh: KAVRELO_APT_LOCK_WAIT is a number of seconds" >&2; exit 2 ;; esac
self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/setup.sh
repo_dir=$(dirname "$(dirname "$self")")

say() { echo "setup.sh: $*" >&2; }

# ---- root, for what changes the machine ---------------------------------
# Asked for only when something is missing. sudo without a password, or with
# one typed at a terminal; otherwise the one command to run as root.
SUDO=() root_ready= args=("$@")
as_root() {
  [ -z "$root_ready" ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    local why
    if ! command -v sudo >/dev/null; then
      why="there is no sudo"
    elif sudo -n true 2>/dev/null; then
      SUDO=(sudo -n)
    elif (: </dev/tty) 2>/dev/null; then
      if sudo -v; then SUDO=(sudo); else why="sudo did not let this user in"; fi
    else
      why="sudo needs a password and there is no terminal to ask it at"
    fi
    if [ "${#SUDO[@]}" -eq 0 ]; then
      say "$1 needs root, and $why. Run this one command as root, then run make again:"
      printf '  bash %q' "$self" >&2
      [ "${#args[@]}" -eq 0 ] || printf ' %q' "${args[@]}" >&2
      echo >&2
      exit 3
    fi
  fi
  root_ready=1
}
root() { "${SUDO[@]}" "$@"; }

# ---- the package manager's locks ----------------------------------------
# (KAVRELO_APT_LOCKS, files separated by spaces, stands in for them in the
# tests of this script.)
read -r -a APT_LOCKS <<<"${KAVRELO_APT_LOCKS:-/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock}"
# lock_holders: "PID (command line)" of each process holding one of the
# locks, from /proc/locks (readable without root; fcntl and flock locks).
lock_holders() {
  local f pid
  for f in "${APT_LOCKS[@]}"; do
    [ -e "$f" ] || continue
    # "1: POSIX  ADVISORY  WRITE PID MAJOR:MINOR:INODE 0 EOF"; "->" marks a
    # process that waits. The device numbers are the file system's own, which
    # stat does not show on every file system: the inode alone.
    awk -v ino="$(stat -c %i "$f")" '$2 != "->" { for (i = 2; i < NF; i++) if ($i ~ ":" ino "$") print $(i - 1) }' /proc/locks
  done | sort -un | while read -r pid; do
    [ "$pid" -gt 0 ] 2>/dev/null || continue
    printf '%s (%s)\n' "$pid" "$(tr '\0\n' '  ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-120 | sed 's/ $//')"
  done
}
wait_for_locks() {
  local holders waited=0
  while holders=$(lock_holders) && [ -n "$holders" ]; do
    if [ "$waited" -ge "$LOCK_WAIT" ]; then
      say "the package manager is still locked after ${LOCK_WAIT} s, by: $(paste -sd ';' <<<"$holders")." \
        "Run make again when it has finished (or wait longer: KAVRELO_APT_LOCK_WAIT=SECONDS)."
      exit 4
    fi
    [ $((waited % 60)) -ne 0 ] ||
      say "waiting for the package manager, locked by: $(paste -sd ';' <<<"$holders") (up to ${LOCK_WAIT} s)"
    sleep 5
    waited=$((waited + 5))
  done
}
# apt-get waits for a lock taken between our look and its own, too. (Not
# in a subshell, the wait's exit would be lost: callers wait first.)
apt() {
  root env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout="$LOCK_WAIT" "$@"
}

installed() { [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]; }
has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }

# ---- does this machine run 32-bit code? ---------------------------------
# The bytes of scripts/uname32.S, assembled (tests/scripts checks that they
# are): prints the kernel's machine name as a 32-bit process sees it.
UNAME32_BASE64=f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAiUAAAAJAIAAAcAAAAAEAAAuHoAAAC7lIAECM2AhcB1JI2LBAEAADHSgDwRAHQGQoP6QXL0uAQAAAC7AQAAAM2AMdvrBbsBAAAAuAEAAADNgA==
# Sets why_not_32bit and fails where it does not.
runs_32bit() {
  local dir probe native machine tried=()
  for dir in "${TMPDIR:-/tmp}" /tmp /dev/shm "$repo_dir/build"; do
    [[ " ${tried[*]} " != *" $dir "* ]] || continue
    tried+=("$dir")
    mkdir -p "$dir" 2>/dev/null || continue
    probe=$(mktemp -d "$dir/kavrelo-32bit.XXXXXX" 2>/dev/null) || continue
    base64 -d <<<"$UNAME32_BASE64" >"$probe/uname32" && cp "$(command -v uname)" "$probe/uname" &&
      chmod 755 "$probe/uname32" "$probe/uname" || { rm -rf "$probe"; continue; }
    if ! native=$("$probe/uname" -m 2>/dev/null); then
      rm -rf "$probe"  # no program runs from this folder (noexec)
      continue
    fi
    machine=$("$probe/uname32" 2>&1) || why_not_32bit="a 32-bit program does not start: ${machine##*: }"
    rm -rf "$probe"
    [ -z "${why_not_32bit:-}" ] || return 1
    [ "$machine" = "$native" ] && return 0
    why_not_32bit="32-bit programs run only under an emulator (they see a $machine, the machine is a $native)"
    return 1
  done
  why_not_32bit="no folder to try a 32-bit program in: no program runs from ${tried[*]}"
  return 1
}

# ---- what is missing ----------------------------------------------------
keep_out=()
if runs_32bit; then
  PACKAGES+=("$WINE_32")
else
  say "this machine cannot run 32-bit code ($why_not_32bit):" \
    "no 32-bit Wine; Windows programs run as the x86_64 build under wine64"
  # wine64 recommends wine32, which could never run here.
  if has_i386; then keep_out=("$WINE_32-"); fi
fi

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done

# apt-get update, once; an index that fails is named, and is an error only
# where what is missing cannot be installed without it.
update_and_check() {
  local out status failed simulated
  status=0
  wait_for_locks
  out=$(apt update 2>&1) || status=$?
  printf '%s\n' "$out" | grep -v '^\(Hit\|Get\|Ign\):' >&2 || true
  # "Err:7 http://... bookworm-security/main i386 Packages" and its reason
  # below it. apt-get succeeds where only a source's Release file failed.
  failed=$(printf '%s\n' "$out" | awk '/^Err:/ { sub(/^Err:[0-9]+ /, ""); name = $0; getline; sub(/^ +/, ""); print "  " name ": " $0 }')
  [ -n "$failed" ] || [ "$status" -eq 0 ] || failed=$(printf '%s\n' "$out" | grep -E '^(E|W|Error|Warning):' | sed 's/^/  /')
  [ -n "$failed" ] || return 0
  if simulated=$(apt -s install "${missing[@]}" "${keep_out[@]}" 2>&1); then
    say "warning: apt-get update could not fetch:"
    printf '%s\n' "$failed" >&2
    say "what is missing installs from the package lists apt has: going on"
    return 0
  fi
  say "apt-get update could not fetch:"
  printf '%s\n' "$failed" >&2
  say "and without it apt cannot install what is missing:"
  printf '%s\n' "$simulated" | grep -E '^(E|Error):' | head -n 8 | sed 's/^/  /' >&2 || true
  say "where a mirror is in the middle of a sync, run make again in a few minutes; where a source is down" \
    "or gone, fix or disable it (/etc/apt/sources.list, /etc/apt/sources.list.d/) and run make again."
  exit 5
}

if [ "${#missing[@]}" -gt 0 ]; then
  say "installing: ${missing[*]}"
  as_root "installing them"
  wait_for_locks
  [[ " ${missing[*]} " != *":i386 "* ]] || has_i386 || root dpkg --add-architecture i386
  update_and_check
  wait_for_locks
  apt install -y "${missing[@]}" "${keep_out[@]}" || {
    say "apt-get install failed (above); run make again once the cause is mended"
    exit 1
  }
fi

# ---- locales ------------------------------------------------------------
# Listed in /etc/locale.gen, so that locale-gen, which every update of the C
# library runs, makes them again; locales-all has every locale built.
if ! installed locales-all; then
  to_list=() to_make=()
  for l in "${LOCALES[@]}"; do
    grep -qx "$l UTF-8" /etc/locale.gen 2>/dev/null || to_list+=("$l")
    grep -qix "${l%.UTF-8}\.utf-\?8" <<<"$(locale -a 2>/dev/null)" || to_make+=("$l")
  done
  if [ "${#to_list[@]}" -gt 0 ] || [ "${#to_make[@]}" -gt 0 ]; then
    say "listing ${LOCALES[*]} in /etc/locale.gen and generating them"
    as_root "listing them in /etc/locale.gen"
    for l in "${to_list[@]}"; do
      # A commented line of Debian's list is taken in; otherwise one is added.
      if grep -qx "# *$l UTF-8" /etc/locale.gen 2>/dev/null; then
        root sed -i "s/^# *\($l UTF-8\)\$/\1/" /etc/locale.gen
      else
        echo "$l UTF-8" | root tee -a /etc/locale.gen >/dev/null
      fi
    done
    root locale-gen >&2 || { say "locale-gen failed (above)"; exit 1; }
  fi
fi
