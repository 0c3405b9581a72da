# Sourced by scripts/wine-run, wine-stop and wine-gui-run: the mark of a
# prefix that wine-run made, where a prefix's server listens, how it is ended.

# The file in a prefix that wine-run has made and finished; it holds WINEARCH.
wine_prefix_mark=.kavrelo-ready-5

# wine_server_socket PREFIX: prints the socket of the prefix's running server
# and succeeds, or fails when none runs. The socket lives in a folder named
# after the prefix's device and inode.
wine_server_socket() {
  local id s
  id=$(printf 'server-%x-%x' "$(stat -c %d "$1")" "$(stat -c %i "$1")") || return 1
  for s in /tmp/wine-*/"$id"/socket "/tmp/.wine-$(id -u)/$id/socket"; do
    [ -S "$s" ] && { echo "$s"; return 0; }
  done
  return 1
}

# wine_server_end PREFIX: ends the prefix's server, and with it every Windows
# program and service of the prefix, waits until it has gone, and removes
# the server's folder under /tmp.
wine_server_end() {
  local id d
  [ -d "$1" ] || return 0
  if wine_server_socket "$1" >/dev/null; then
    WINEPREFIX=$1 timeout 30 /usr/bin/wineserver -k </dev/null >/dev/null 2>&1
    WINEPREFIX=$1 timeout 30 /usr/bin/wineserver -w </dev/null >/dev/null 2>&1
  fi
  # The server's folder outlives it, with its lock file (and its socket,
  # where it was ended): gone with it, the prefix being one that only this
  # caller uses now.
  id=$(printf 'server-%x-%x' "$(stat -c %d "$1")" "$(stat -c %i "$1")") || return 0
  for d in /tmp/wine-*/"$id" "/tmp/.wine-$(id -u)/$id"; do
    [ ! -d "$d" ] || rm -rf "$d"
  done
  return 0
}
