#!/usr/bin/env bash
# The network neighbourhood against real Samba servers forming a workgroup on test hosts of our
# own: the program lists the workgroup's machines; on a segment where browsing finds nothing the
# list is empty. Usage: smb-browse-test.sh PATH/TO/zumelko-netls
set -euo pipefail
netls=$1
if [ "$(id -u)" -ne 0 ] || ! command -v smbd >/dev/null || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root, ip netns and Samba"
  exit 77
fi
. "$(dirname "$0")/hosts.sh"
trap zm_net_down EXIT
zm_net_up srv1 srv2 srv3 client
zm_samba srv1 ZUMTEST master
zm_samba srv2 ZUMTEST
zm_samba srv3 ZUMTEST
home=$(zm_smb_client_home client ZUMTEST)

# The master browser is elected and the others announce themselves within about half a minute.
out=""
for _ in $(seq 1 45); do
  out=$(zm_on client env HOME="$home" timeout 60 "$netls" 2>&1 || true)
  if grep -q "^count 3$" <<<"$out"; then break; fi
  sleep 2
done
echo "$out"
fail=0
expected=$'SRV1\nSRV2\nSRV3'
got=$(grep -v '^count' <<<"$out" | sort)
if [ "$got" != "$expected" ]; then
  echo "FAIL: the workgroup's machines were not listed (got: $got)"
  fail=1
fi

# A host on a segment of its own: nothing answers, the list is empty, and it says so in time.
zm_net_down
ZM_NET_PREFIX="${ZM_NET_PREFIX}x"
zm_net_up lonely
home=$(zm_smb_client_home lonely ZUMTEST)
out=$(zm_on lonely env HOME="$home" timeout 60 "$netls" 2>&1 || true)
echo "$out"
if [ "$out" != "count 0" ]; then
  echo "FAIL: browsing an empty segment gave: $out"
  fail=1
fi
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
