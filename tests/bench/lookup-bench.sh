#!/usr/bin/env bash
# Runs lookup_bench with a name server of its own: a private network (loopback only) and a
# resolver configuration that asks 127.0.0.1 alone, where the benchmark serves slow answers.
# Usage: tests/bench/lookup-bench.sh PATH/TO/lookup_bench     (root needed)
set -euo pipefail
bench=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ]; then
  echo "lookup-bench.sh: needs root for a private network and resolver configuration" >&2
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:5 attempts:1\n' >"$dir/resolv.conf"
sed 's/^hosts:.*/hosts: dns/' /etc/nsswitch.conf >"$dir/nsswitch.conf"
unshare -n -m sh -c '
  ip link set lo up
  mount --bind "$1/resolv.conf" /etc/resolv.conf
  mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf
  exec "$2"' lookup-bench "$dir" "$bench"
