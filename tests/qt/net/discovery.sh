#!/usr/bin/env bash
# Instances finding each other: three test hosts, each with its own system bus and avahi daemon
# and the program on its own X display, plus a fourth host with no daemon at all, and a stranger
# that announces itself with avahi-publish but may not send. The user
# refreshes the destination list through the icon's menu; the program logs the menu's entries.
# A machine whose record says secure=8002 is never sent to plain, even with its port 8002
# dropped by a firewall while its plain ports take items.
# Usage: discovery.sh PATH/TO/zumelko PATH/TO/zumelko-send [OUTPUT-DIR]
set -uo pipefail
program=$(readlink -f "$1")
sender=$(readlink -f "$2")
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the test hosts"
  exit 77
fi
for tool in avahi-daemon avahi-publish dbus-daemon nft; do
  command -v "$tool" >/dev/null || { echo "FAILED: $tool is not installed"; exit 1; }
done
. "$(dirname "$0")/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS=$(mkdir -p "${3:-$ZM_NET_DIR/shots}" && cd "${3:-$ZM_NET_DIR/shots}" && pwd)

# zm_mdns HOST : a system bus and an avahi daemon of the host's own, on its segment only.
zm_mdns() {
  local host=$1 dir="$ZM_NET_DIR/mdns-$1"
  mkdir -p "$dir"
  sed -e '/<user>/d' -e "s|<pidfile>.*</pidfile>||" \
    -e "s|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|" \
    -e "s|<listen>.*</listen>|<listen>unix:path=$dir/bus</listen>|" /usr/share/dbus-1/system.conf >"$dir/bus.conf"
  cat >"$dir/avahi.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=eth0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
  ip -n "${ZM_NET_PREFIX}$host" route add 224.0.0.0/4 dev eth0
  zm_on "$host" dbus-daemon --config-file="$dir/bus.conf" --nofork >"$dir/bus.log" 2>&1 &
  local i
  for ((i = 0; i < 50; i++)); do
    [ -S "$dir/bus" ] && break
    sleep 0.1
  done
  # The daemon's run directory is the host's own.
  zm_on "$host" env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/bus" sh -c \
    'mount -t tmpfs tmpfs /run && mkdir /run/avahi-daemon && exec avahi-daemon -f "$1" --no-drop-root --no-chroot' \
    zm-avahi "$dir/avahi.conf" >"$dir/avahi.log" 2>&1 &
}

# stop_avahi HOST : the host's avahi daemon ends, as when its service is stopped.
stop_avahi() {
  local pid
  for pid in $(ip netns pids "${ZM_NET_PREFIX}$1"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = avahi-daemon ] && kill "$pid"
  done
  return 0
}
ended() { ! zm_alive "$1"; }
no_report() { ! grep -q Sanitizer "$ZM_NET_DIR"/zumelko-host?.log; }

# destinations HOST : the destination menu's entries after the user picks 更新(&U).
destinations() {
  local log="$ZM_NET_DIR/zumelko-$1.log" before
  before=$(grep -c 'destinations:' "$log")
  zm_menu "$1" 1 u >/dev/null || return 1
  for ((i = 0; i < 50; i++)); do
    if [ "$(grep -c 'destinations:' "$log")" -gt "$before" ]; then
      grep 'destinations:' "$log" | tail -1 | sed 's/^zumelko: destinations: //'
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# lists_within HOST EXPECTED SECONDS : the refreshed list reads EXPECTED within SECONDS.
lists_within() {
  local got i
  for ((i = 0; i < $3; i++)); do
    got=$(destinations "$1")
    [ "$got" = "$2" ] && return 0
    sleep 0.5
  done
  zm_say "$1 lists \"$got\""
  return 1
}

zm_say "Five test hosts; hosta, hostb, hostc and evil run an avahi daemon, hostd none"
zm_net_up hosta hostb hostc hostd evil
ip netns exec "${ZM_NET_PREFIX}sw" sh -c 'echo 0 >/sys/class/net/br0/bridge/multicast_snooping'
for host in hosta hostb hostc evil; do zm_mdns "$host"; done
for host in hosta hostb hostc hostd; do
  zm_desktop "$host"
  zm_start "$host" "$program" ZUMELKO_LOG_DESTINATIONS=1 DBUS_SYSTEM_BUS_ADDRESS="unix:path=$ZM_NET_DIR/mdns-$host/bus"
done
for host in hosta hostb hostc hostd; do
  check "the icon window appears on $host" zm_wait_dialog "$host" 36 36 >/dev/null
done

zm_say "Each instance lists the other two, sorted, not itself"
check "hosta lists hostb and hostc" lists_within hosta "hostb,hostc" 10
check "hostb lists hosta and hostc" lists_within hostb "hosta,hostc" 10
check "hostc lists hosta and hostb" lists_within hostc "hosta,hostb" 10

# allow_only HOST NAME : the settings dialog as the user sets "一覧のマシンと追加した名前だけ" and
# adds NAME under its "詳細".
allow_only() {
  local host=$1 win chooser
  zm_menu "$host" 3 c
  win=$(zm_wait_dialog "$host" 417 587) || return 1
  # From OK: the two groups, About, then (the other details buttons disabled) the senders group.
  zm_keys "$host" "$win" Tab Tab Tab Tab Tab Down Tab space
  chooser=$(zm_wait_dialog "$host" 427 123) || return 1
  zm_keys "$host" "$chooser" Tab Tab ctrl+a BackSpace
  zm_type "$host" "$chooser" "$2"
  zm_keys "$host" "$chooser" shift+Tab shift+Tab space
  zm_wait_gone "$host" "$chooser" || return 1
  # Back on the details button; from the next group Enter presses OK.
  zm_keys "$host" "$win" Tab Return
  zm_wait_gone "$host" "$win"
}
announce() {
  zm_on evil env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$ZM_NET_DIR/mdns-evil/bus" \
    avahi-publish -s "$1" _zumelko._tcp 8000 >>"$ZM_NET_DIR/publish.log" 2>&1 &
}
# stranger_refused : evil sends to hosta with zumelko-send; it is told of a reset and fails,
# and hosta shows nothing.
stranger_refused() {
  local out rc
  out=$(zm_on evil "$sender" hosta "from a stranger" 2>&1)
  rc=$?
  echo "$out" >"$ZM_NET_DIR/send-evil.log"
  echo "zumelko-send on evil, exit $rc: $out"
  # The reset reaches the sender either as a failed receive or as a failed send after it,
  # depending on when its handshake writes.
  [ "$rc" -eq 1 ] && grep -q -E "Connection reset by peer|Software caused connection abort" <<<"$out" &&
    zm_no_dialog hosta 2 && grep -q "from $(zm_net_addr evil)" "$ZM_NET_DIR/zumelko-hosta.log"
}
# friend_taken : hostb, an added name, still gets its dialog on hosta; the user says NO.
friend_taken() {
  local win
  zm_on hostb "$sender" hosta "from a friend" >"$ZM_NET_DIR/send-hostb.log" 2>&1 &
  win=$(zm_wait_dialog hosta 465 183) || return 1
  zm_keys hosta "$win" Tab space
  zm_wait_gone hosta "$win"
}

# encrypted HOST : what the host's last refresh said of the machines that take the encrypted
# channel ("name:port,...").
encrypted() {
  grep 'encrypted:' "$ZM_NET_DIR/zumelko-$1.log" | tail -1 | sed 's/^zumelko: encrypted: \{0,1\}//'
}
# browsed_secure HOST : avahi-browse on evil resolves HOST's record, and its TXT says secure=8002.
browsed_secure() {
  local out
  out=$(zm_on evil env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$ZM_NET_DIR/mdns-evil/bus" \
    timeout 10 avahi-browse -rtp _zumelko._tcp 2>&1)
  echo "$out" >"$ZM_NET_DIR/browse-$1.log"
  grep -q "^=;[^;]*;IPv4;$1;_zumelko._tcp;local;[^;]*;[^;]*;8000;.*\"secure=8002\"" <<<"$out"
}
# announce_txt NAME TXT... : a stranger's record under NAME with the given TXT strings.
announce_txt() {
  local name=$1
  shift
  zm_on evil env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$ZM_NET_DIR/mdns-evil/bus" \
    avahi-publish -s "$name" _zumelko._tcp 8000 "$@" >>"$ZM_NET_DIR/publish.log" 2>&1 &
}

zm_say "The records say that the instances take the encrypted channel; strangers' records are data"
check "avahi-browse -r sees secure=8002 in hostb's record" browsed_secure hostb
# Records as anyone may write them: a port out of range, a duplicate key whose first string is
# no port, binary bytes, a string of the most bytes DNS allows, and one good stranger.
announce_txt odd "secure=99999" "path=/"
announce_txt twice "secure=x" "secure=y"
announce_txt binary $'secure=80\x0102\xff' "$(head -c 255 /dev/zero | tr '\0' 'A')"
announce_txt friendly "x=$(head -c 240 /dev/zero | tr '\0' 'B')" "SECURE=8443"
check "hosta lists every stranger" lists_within hosta "binary,friendly,hostb,hostc,odd,twice" 10
check "hosta reads who takes the encrypted channel, and nothing from the bad records" \
  [ "$(encrypted hosta)" = "friendly:8443,hostb:8002,hostc:8002" ]
check "hosta's program still runs" zm_alive hosta
# stop_announce NAME... : the strangers' avahi-publish for these names end (by their ids).
stop_announce() {
  local pid name args
  for pid in $(ip netns pids "${ZM_NET_PREFIX}evil"); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = avahi-publish ] || continue
    args=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)
    for name in "$@"; do
      [[ "$args" == "avahi-publish -s $name "* ]] && kill "$pid"
    done
  done
  return 0
}
stop_announce odd twice binary friendly
check "the strangers' records are gone again" lists_within hosta "hostb,hostc" 15

zm_say "hosta takes items from known machines only, and adds hostb; a stranger announces itself"
check "settings on hosta" allow_only hosta hostb
announce evil
announce "$(zm_net_addr evil)"
check "hosta offers evil, not its address" lists_within hosta "evil,hostb,hostc" 10
check "evil, found but not known, is reset and its zumelko-send fails" stranger_refused
check "hostb, an added name, is still offered" friend_taken

zm_say "hosta announces secure=8002 but a firewall drops its port 8002: hostb's program never sends it plain"
# firewall HOST : port 8002 dropped on the host's input, and the packets to the plain ports
# counted.
firewall() {
  zm_on "$1" nft -f - <<'RULES'
table inet zm {
  chain input {
    type filter hook input priority 0;
    tcp dport 8002 counter drop
    tcp dport { 8000, 8001 } counter
  }
}
RULES
}
# packets_to HOST PORTS : how many packets the host's firewall counted to those ports.
packets_to() { zm_on "$1" nft list chain inet zm input | sed -n "s/.*dport $2 counter packets \([0-9]*\).*/\1/p"; }
# reads_secure : after a refresh, hostb has read secure=8002 in hosta's record.
reads_secure() { destinations hostb >/dev/null && [[ ",$(encrypted hostb)," == *,hosta:8002,* ]]; }
# never_plain : hostb's user copies a text; hostb announces it, then shows the failure notice
# (the only notice that can come while hosta asks nothing: a transfer's end needs an answer).
never_plain() {
  printf 'not for plain eyes %s' "$$" | zm_x hostb xclip -selection clipboard -i
  notice hostb notice-announce-hostb && notice hostb notice-secure-dropped-hostb 10 && zm_no_dialog hosta 2
}
nothing_plain() {
  local secure plain
  secure=$(packets_to hosta 8002)
  plain=$(packets_to hosta "{ 8000, 8001 }")
  zm_say "hosta's firewall counted $secure packets to 8002 (dropped), $plain to 8000 and 8001"
  [ "$secure" -gt 0 ] && [ "$plain" -eq 0 ] && ! grep -q "sent encrypted" "$ZM_NET_DIR/zumelko-hostb.log"
}
# plain_still_taken : zumelko-send, which reads no records, falls back to hosta's plain ports.
plain_still_taken() {
  local win
  zm_on hostb "$sender" hosta "plain after all" >"$ZM_NET_DIR/send-plain.log" 2>&1 &
  win=$(zm_wait_dialog hosta 465 183) || return 1
  zm_keys hosta "$win" Tab space
  zm_wait_gone hosta "$win" && [ "$(packets_to hosta "{ 8000, 8001 }")" -gt 0 ]
}
check "hosta's port 8002 is dropped" firewall hosta
check "hostb reads secure=8002 in hosta's record" reads_secure
check "settings on hostb: send to hosta" settings hostb 1 0 hosta
check "hostb's copy is announced, then fails with a notice, and hosta asks nothing" never_plain
check "nothing reached hosta's plain ports; its port 8002 was tried" nothing_plain
check "hosta's plain ports still take an item from zumelko-send" plain_still_taken
zm_on hosta nft delete table inet zm

zm_say "hostd has no daemon: it says so once, lists nobody, and still receives"
check "hostd lists nobody" [ "$(destinations hostd)" = "" ]
check "hostd says once that there is no daemon" \
  [ "$(grep -c 'no avahi daemon' "$ZM_NET_DIR/zumelko-hostd.log")" = 1 ]
zm_x hosta "$sender" hostd "sent to a host without discovery" >"$ZM_NET_DIR/send.log" 2>&1 &
check "hostd asks whether to take a text from hosta" zm_wait_dialog hostd 465 183 >/dev/null
check "hostd's program still runs" zm_alive hostd

zm_say "hostc quits through its menu: the others no longer list it after a refresh"
zm_menu hostc 3 e
for ((i = 0; i < 50 && $(zm_alive hostc && echo 1 || echo 0); i++)); do sleep 0.1; done
check "hostc's program has ended" ended hostc
check "hosta lists only evil and hostb" lists_within hosta "evil,hostb" 10
check "hostb lists only evil and hosta" lists_within hostb "evil,hosta" 10

zm_say "hostb's daemon goes away: hostb says so once and keeps running"
stop_avahi hostb
check "hostb lists nobody once its daemon is gone" lists_within hostb "" 10
check "hostb says once that the daemon went away" \
  [ "$(grep -c 'avahi daemon went away' "$ZM_NET_DIR/zumelko-hostb.log")" = 1 ]
check "hostb's program still runs" zm_alive hostb

for host in hosta hostb hostd; do zm_menu "$host" 3 e || true; done
for ((i = 0; i < 50; i++)); do
  zm_alive hosta || zm_alive hostb || zm_alive hostd || break
  sleep 0.1
done
check "no sanitizer report from any instance" no_report
zm_say "passed $passed, failed $failed"
if [ "$failed" -ne 0 ]; then
  for host in hosta hostb hostc hostd; do
    echo "--- $host"
    cat "$ZM_NET_DIR/zumelko-$host.log"
  done
  exit 1
fi
