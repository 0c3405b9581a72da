# Sourced by scripts/wine-run and scripts/wine-stop: what marks a prefix that
# wine-run made, and where a Wine prefix's server listens. (The Python side
# finds the server's process the same way: procsample.find_wineserver.)

# The file in a prefix that wine-run has made and finished; it holds WINEARCH.
wine_prefix_mark=.kavrelo-ready-3

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
