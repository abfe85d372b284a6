#!/usr/bin/env bash
# The encrypted channel on test hosts, the real program on its own desktop receiving from
# zumelko-send: a capture on the receiver's link holds nothing of the item (not the text, the
# names or the type tag) where the same capture of a plain send holds all of them; a machine in
# the middle that terminates TLS with its own key and relays makes the two check codes differ.
# With the secure port dropped by the receiver's firewall, --strict sends nothing plain, and
# without it the item arrives unencrypted; with a team passphrase on both ends the machine in
# the middle, relaying the passphrase exchange between its two TLS connections, fails it, and
# the direct send arrives authenticated.
# Usage: secure-wire.sh PATH/TO/zumelko PATH/TO/zumelko-send OUTPUT-DIR
set -uo pipefail
program=$(readlink -f "$1")
send=$(readlink -f "$2")
out=$(mkdir -p "$3" && cd "$3" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1 || ! command -v tcpdump >/dev/null; then
  echo "SKIP: needs root, ip netns and tcpdump for the test hosts"
  exit 77
fi
here=$(dirname "$(readlink -f "$0")")
. "$here/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"
d=$ZM_NET_DIR

zm_net_up rx txpc mid
zm_desktop rx
zm_start rx "$program" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
check "the program starts" zm_wait_dialog rx 36 36 30 >/dev/null
rx_addr=$(zm_net_addr rx)
mid_addr=$(zm_net_addr mid)
secret="ZUMELKO-SECRET-$$-TEXT"

# captured NAME command... : runs the command while tcpdump records the receiver's link.
captured() {
  local name=$1
  shift
  # (Immediate mode: without it a packet may wait in the capture ring for a second and be lost
  # with it when the capture ends.)
  zm_on rx tcpdump -i eth0 --immediate-mode -U -s 0 -w "$d/$name.pcap" tcp >/dev/null 2>&1 &
  local dump=$!
  sleep 1
  "$@"
  local rc=$?
  sleep 0.5
  kill -TERM "$dump" 2>/dev/null  # background jobs of a script ignore SIGINT
  wait "$dump" 2>/dev/null
  return $rc
}

# answered_yes SENDER-PID : the receive question shows on rx and is answered YES; the sender ends.
answered_yes() {
  local sender=$1 win
  win=$(zm_wait_dialog rx 465 183 15) || { kill "$sender" 2>/dev/null; return 1; }
  zm_keys rx "$win" space
  zm_wait_gone rx "$win"
  wait "$sender"
}

send_secure() {
  zm_on txpc timeout 30 "$send" rx "$secret" 2>"$d/send.err" &
  answered_yes $!
}
send_plain() {
  zm_on txpc timeout 30 python3 "$here/hostile-peer.py" item "$rx_addr" string root txpc "$secret" >"$d/plain.out" 2>&1 &
  answered_yes $!
}
# holds PCAP WORD : the capture holds the bytes of WORD anywhere.
holds() { LC_ALL=C grep -qaF -- "$2" "$d/$1.pcap"; }
none_of() {
  local pcap=$1 word
  shift
  for word in "$@"; do
    if holds "$pcap" "$word"; then
      echo "the capture holds \"$word\"" >&2
      return 1
    fi
  done
}
all_of() {
  local pcap=$1 word
  shift
  for word in "$@"; do holds "$pcap" "$word" || { echo "no \"$word\" in the capture" >&2; return 1; }; done
}
code_sent() { sed -n 's/.*check code \([0-9 ]*\)$/\1/p' "$d/send.err" | tail -1; }
code_received() { sed -n 's/.*encrypted item from .*, check code \([0-9 ]*\).*/\1/p' "$ZM_NET_DIR/zumelko-rx.log" | tail -1; }

check "an encrypted send is taken and reported" captured secure send_secure
check "the encrypted capture holds neither the text, the names nor the type tag" \
  none_of secure "$secret" "txpc" "root" "string"
check "the capture did record the transfer (port 8002)" \
  bash -c "[ \$(stat -c %s '$d/secure.pcap') -gt 2000 ]"
sent=$(code_sent)
received=$(code_received)
check "both ends show one check code ($sent)" bash -c "[ -n '$sent' ] && [ '$sent' = '$received' ]"
zm_x rx xclip -selection clipboard -o >"$d/got.txt"
check "the text arrived exactly" bash -c "[ \"\$(cat '$d/got.txt')\" = '$secret' ]"

# Hostile handshakes from host mid, each from an address of its own (a failed handshake makes
# its address wait), each ended well within the deadline (10 s) and a good item after each: a
# hello offering what the program refuses gets an alert at once, silence is cut off by the
# deadline, and five addresses get four handshakes each under way at most.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=mid \
  -keyout "$d/mid.key" -out "$d/mid.pem" >/dev/null 2>&1
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_pubexp:$(python3 -c 'print(2**2000 + 2**16 + 1)') -out "$d/rsa.key" 2>/dev/null
openssl req -x509 -key "$d/rsa.key" -days 1 -subj /CN=mid -out "$d/rsa.pem" >/dev/null 2>&1
alerted() {  # alerted SOURCE OPTIONS...
  zm_on mid timeout 20 openssl s_client -connect "$rx_addr:8002" -bind "$1:0" -ign_eof "${@:2}" </dev/null >"$d/hostile.out" 2>&1
  grep -q "alert" "$d/hostile.out"
}
peer_mid() { zm_on mid timeout 40 python3 "$here/hostile-peer.py" handshakes "$rx_addr" "$@" >"$d/hostile.out" 2>&1; }
extra=("$ZM_NET_SUBNET".{61..65})
for a in "${extra[@]}" "$ZM_NET_SUBNET".{71..75}; do ip -n "${ZM_NET_PREFIX}mid" addr add "$a/24" dev eth0; done
src=$ZM_NET_SUBNET
flood() {  # with an item from txpc meanwhile; at most 4 answered per address
  peer_mid whole 10 "${extra[@]}" &
  local flooder=$!
  sleep 1
  send_secure && wait $flooder && [ "$(awk '{ print $3 }' "$d/hostile.out")" -le $((4 * ${#extra[@]})) ]
}
hostile_cases=(
  "3|only ffdhe8192 offered|alerted $src.71 -groups ffdhe8192 -cert $d/mid.pem -key $d/mid.key"
  "3|an RSA certificate with a 2000-bit exponent|alerted $src.72 -cert $d/rsa.pem -key $d/rsa.key"
  "3|ALPN http/1.1 only|alerted $src.73 -alpn http/1.1 -cert $d/mid.pem -key $d/mid.key"
  "13|an idle connection|peer_mid idle 1 $src.74"
  "13|half a client hello|peer_mid half 1 $src.75"
  "13|ten whole client hellos from each of five addresses|flood"
)
for row in "${hostile_cases[@]}"; do
  IFS='|' read -r most name command <<<"$row"
  started=$(date +%s%N)
  check "$name: refused" $command
  # The time the peer saw, where it says (the flood's item waits for its question meanwhile).
  took=$(sed -n 's/.*closed after \([0-9.]*\) s.*/\1/p' "$d/hostile.out" | awk '{ printf "%d", $1 * 1000 }')
  took=${took:-$((($(date +%s%N) - started) / 1000000))}
  zm_say "$name: ended after $took ms: $(head -c 300 "$d/hostile.out" | tr '\n' ' ')"
  check "$name: ended within $most s" [ "$took" -le $((most * 1000)) ]
  check "$name: a good item arrives next" send_secure
done

check "a plain send is taken" captured plain send_plain
check "the same capture of a plain send holds the text, the names and the type tag" \
  all_of plain "$secret" "txpc" "root" "string"

# A machine in the middle: zumelko-send is sent to it (a spoofed name would do the same), and it
# relays to the program over TLS of its own.
zm_on mid timeout 40 python3 "$here/tls-relay.py" "$d/mid.pem" "$d/mid.key" 8002 "$rx_addr" >"$d/relay.out" 2>&1 &
relay=$!
sleep 1
mitm_send() {
  zm_on txpc timeout 30 "$send" "$mid_addr" "$secret" 2>"$d/send.err" &
  answered_yes $!
}
check "through the relay the item still arrives" mitm_send
wait "$relay" 2>/dev/null
sent=$(code_sent)
received=$(code_received)
check "with a machine in the middle the check codes differ ($sent / $received)" \
  bash -c "[ -n '$sent' ] && [ -n '$received' ] && [ '$sent' != '$received' ]"

# A machine that is gone (its address still known on the link, so what goes there vanishes):
# the secure port counts as unreachable after its short connect timeout, and the plain send that
# follows is the one that runs out of time.
dead=$ZM_NET_SUBNET.99
echo "$dead dead" >>"$ZM_NET_DIR/hosts"
ip -n "${ZM_NET_PREFIX}txpc" neigh replace "$dead" lladdr 02:00:00:00:00:99 dev eth0 nud permanent
zm_on txpc timeout 30 "$send" --timeout 4 "$dead" "$secret" 2>"$d/dead.err"
check "an unreachable secure port gives way to the plain one within the time" \
  grep -q "could not connect to $dead port 8000 within" "$d/dead.err"

# The secure port dropped on the receiver's host, as a firewall would: strict mode gives up
# without a single packet to the plain ports; without it the item goes plain and arrives so.
drop_secure() {
  zm_on rx nft -f - <<'RULES'
table inet zm {
  chain input {
    type filter hook input priority 0;
    tcp dport 8002 drop
  }
}
RULES
}
check "port 8002 is dropped on rx" drop_secure
# to_port PCAP PORT : how many packets of the capture went to that port.
to_port() { tcpdump -nn -r "$d/$1.pcap" "tcp dst port $2" 2>/dev/null | wc -l; }
strict_send() {
  ! zm_on txpc timeout 30 "$send" --strict rx "$secret" 2>"$d/strict.err" &&
    grep -q "not sending in plain" "$d/strict.err" && zm_no_dialog rx 2
}
nothing_plain() { [ "$(to_port "$1" 8002)" -gt 0 ] && [ "$(to_port "$1" 8000)" -eq 0 ] && [ "$(to_port "$1" 8001)" -eq 0 ]; }
check "--strict with the secure port dropped fails and no question shows" captured strict strict_send
check "the strict send tried port 8002 and sent nothing to 8000 or 8001" nothing_plain strict
encrypted_items() { grep -c "encrypted item from" "$ZM_NET_DIR/zumelko-rx.log"; }
encrypted_before=$(encrypted_items)
fallback_send() {
  zm_on txpc timeout 30 "$send" rx "$secret" 2>"$d/fallback.err" &
  local sender=$! win
  win=$(zm_wait_dialog rx 465 183 15) || { kill "$sender" 2>/dev/null; return 1; }
  zm_shot rx "$win" receive-unencrypted
  zm_keys rx "$win" space
  zm_wait_gone rx "$win"
  wait "$sender"
}
went_plain() { holds fallback "$secret" && [ "$(to_port fallback 8001)" -gt 0 ] && [ "$(encrypted_items)" -eq "$encrypted_before" ]; }
check "without --strict the same send falls back to plain and is taken" captured fallback fallback_send
check "the fallback went plain: the text on the wire, no encrypted item in the receiver's log" went_plain
zm_on rx nft delete table inet zm

# The team's passphrase on both ends: the machine in the middle, not knowing it, relays the
# passphrase exchange, whose confirmations cover each TLS connection, so the sender's handshake
# fails; straight to the program, the item arrives authenticated.
phrase="team passphrase $$ äö"
# (Not zm_quit: the plain item just taken leaves its ports in TIME_WAIT, which its bare bind
# check counts as taken; the program's own listeners reuse the address.)
stop_program() {
  local pid i
  pid=$(zm_pids rx "^$program( |\$)")
  [ -n "$pid" ] && kill -TERM "$pid" || return 1
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "${ZM_PID[rx]}"; return; }
    sleep 0.1
  done
  return 1
}
check "the program ends for its restart with the passphrase" stop_program
zm_desktop rx
zm_start rx "$program" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" ZUMELKO_PASSPHRASE="$phrase"
check "the program starts with the passphrase" zm_wait_dialog rx 36 36 30 >/dev/null
zm_on mid timeout 20 python3 "$here/tls-relay.py" "$d/mid.pem" "$d/mid.key" 8002 "$rx_addr" >"$d/relay2.out" 2>&1 &
relay=$!
sleep 1
team_send() { zm_on txpc env ZUMELKO_PASSPHRASE="$phrase" timeout 30 "$send" "$1" "$secret" 2>"$d/send.err"; }
refused_in_middle() {
  ! team_send "$mid_addr" && grep -q "TLS handshake failed" "$d/send.err" && zm_no_dialog rx 2
}
check "with the passphrase the machine in the middle fails the handshake, no question shows" refused_in_middle
kill "$relay" 2>/dev/null
wait "$relay" 2>/dev/null
team_direct() {
  team_send rx &
  answered_yes $!
}
both_authenticated() {
  grep -q "sent encrypted to a holder of the passphrase; check code" "$d/send.err" &&
    grep -q "encrypted item from .*, team passphrase" "$ZM_NET_DIR/zumelko-rx.log" &&
    [ -n "$(code_sent)" ] && [ "$(code_sent)" = "$(code_received)" ]
}
check "with the passphrase and no relay the item is taken" team_direct
check "both ends report the passphrase-authenticated form and one check code" both_authenticated
zm_x rx xclip -selection clipboard -o >"$d/got.txt"
check "the text arrived exactly" bash -c "[ \"\$(cat '$d/got.txt')\" = '$secret' ]"
# A passphrase forbids the plain channel as --strict does.
team_not_plain() {
  ! team_send rx && grep -q "not sending in plain" "$d/send.err" && zm_no_dialog rx 2
}
drop_secure
check "with the passphrase and port 8002 dropped nothing goes plain" captured team team_not_plain
no_plain_logged() { ! grep -q "refused a plain connection" "$ZM_NET_DIR/zumelko-rx.log"; }
check "the receiver saw no plain connection" no_plain_logged

zm_say "passed $passed, failed $failed"
[ "$failed" -eq 0 ]
