#!/usr/bin/env bash
# Runs a Windows program in the Wine session that wine-session.sh started (its folder in
# ZUMELKO_WINE_SESSION), in the session's network (only loopback, where its wineserver makes
# the sockets), and with host names looked up in the hosts file alone: no test reaches past
# this machine, and the fixed ports of the program never meet those of other runs.
set -euo pipefail
: "${ZUMELKO_WINE_SESSION:?no Wine session}"
if [ "${ZUMELKO_WINE_ISOLATED:-}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
  netns=$(sed -n 's/^export ZUMELKO_WINE_NETNS="\(.*\)"$/\1/p' "$ZUMELKO_WINE_SESSION/env")
  if [ -n "$netns" ]; then
    exec ip netns exec "$netns" unshare -m env ZUMELKO_WINE_ISOLATED=1 "$0" "$@"
  fi
  exec unshare -n -m env ZUMELKO_WINE_ISOLATED=1 "$0" "$@"
fi
if [ "${ZUMELKO_WINE_ISOLATED:-}" = 1 ]; then
  ip link set lo up
  sed 's/^hosts:.*/hosts: files/' /etc/nsswitch.conf >"$ZUMELKO_WINE_SESSION/nsswitch.conf"
  mount --bind "$ZUMELKO_WINE_SESSION/nsswitch.conf" /etc/nsswitch.conf
fi
# shellcheck disable=SC1091
. "$ZUMELKO_WINE_SESSION/env"
exec "$WINE_BIN/wine64" "$@"
