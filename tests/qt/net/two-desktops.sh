#!/usr/bin/env bash
# Two complete desktops on two test hosts, each running the program on its own X display, the
# user played with xdotool and xclip: settings through the tray menu, a text and a picture
# copied on one host and taken into the other's clipboard, the sleeping receiver, a second
# instance on the same machine; the key line on hosta's side across a restart of hostb, and no
# plain send once hostb's port 8002 is reset after encrypted items; a copy a password manager
# marked, kept on hosta in both checker modes and sent marked on request. Every step is printed
# and every dialog kept as a picture.
# Usage: two-desktops.sh PATH/TO/zumelko OUTPUT-DIR PATH/TO/zumelko-clip-owner
set -uo pipefail
program=$(readlink -f "$1")
out=$(mkdir -p "$2" && cd "$2" && pwd)
owner=$(readlink -f "$3")
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the test hosts"
  exit 77
fi
. "$(dirname "$0")/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"
# look_and_take HOST WHAT : HOST asks whether to take WHAT; its user looks at the preview, then
# answers YES. Both dialogs are kept as pictures.
look_and_take() {
  local win preview
  win=$(zm_wait_dialog "$1" 465 183) || return 1
  zm_shot "$1" "$win" "receive-$2-$1"
  zm_keys "$1" "$win" Tab Tab space
  preview=$(zm_wait_dialog "$1" 302 333) || return 1
  zm_shot "$1" "$preview" "preview-$2-$1"
  zm_keys "$1" "$preview" space
  zm_wait_gone "$1" "$preview"
  zm_keys "$1" "$win" shift+Tab shift+Tab space
  zm_wait_gone "$1" "$win"
}
size_is() { [ "$(zm_windows "$1" | awk -v id="$2" '$1 == id { print $2 "x" $3 }')" = "$3" ]; }

zm_say "Two test hosts, hosta and hostb, each with its own X display"
zm_net_up hosta hostb
zm_desktop hosta
zm_desktop hostb
zm_start hosta "$program"
zm_start hostb "$program"
check "the icon window appears on hosta" zm_wait_dialog hosta 36 36 >/dev/null
check "the icon window appears on hostb" zm_wait_dialog hostb 36 36 >/dev/null

zm_say "hosta: settings through the icon's menu: send to the default destination hostb"
check "settings on hosta" settings hosta 1 0 hostb
zm_say "hostb: send to the default destination hosta too, so that an import sent back would show"
check "settings on hostb" settings hostb 1 0 hosta

text="Zumelko: クリップボードの文字列 \"quoted\" ; \$(not run) -x"
zm_say "hosta: the user copies a text"
printf '%s' "$text" | zm_x hosta xclip -selection clipboard -i
check "hosta announces the transfer" notice hosta notice-announce-hosta
win=$(zm_wait_dialog hostb 465 183)
check "hostb asks whether to take the text" [ -n "$win" ]
zm_shot hostb "$win" receive-text-hostb
zm_say "hostb: the user looks at the preview, then answers YES"
zm_keys hostb "$win" Tab Tab space
preview=$(zm_wait_dialog hostb 302 333)
check "the preview shows" [ -n "$preview" ]
zm_shot hostb "$preview" preview-text-hostb
zm_keys hostb "$preview" space
zm_wait_gone hostb "$preview"
zm_keys hostb "$win" shift+Tab shift+Tab space
zm_wait_gone hostb "$win"
check "hosta reports the end of the transfer" notice hosta notice-finished-hosta
got=$(zm_x hostb xclip -selection clipboard -o)
check "hostb's clipboard holds the same bytes" [ "$got" = "$text" ]
check "hostb does not send the imported text back" zm_no_dialog hostb 3
check "hosta gets nothing back" zm_no_dialog hosta 1

zm_say "hosta: the user copies a picture"
zm_x hosta convert -size 173x97 -seed 7 plasma:fractal -depth 8 "PNG24:$ZM_NET_DIR/picture.png"
zm_x hosta xclip -selection clipboard -t image/png -i "$ZM_NET_DIR/picture.png"
check "hosta announces the picture" notice hosta notice-announce-picture-hosta
check "hostb asks whether to take the picture, shows it, and takes it" look_and_take hostb picture
check "hosta reports the end of the picture's transfer" notice hosta notice-finished-picture-hosta
zm_x hostb xclip -selection clipboard -t image/png -o >"$ZM_NET_DIR/received.png"
diff=$(compare -metric AE "$ZM_NET_DIR/picture.png" "$ZM_NET_DIR/received.png" null: 2>&1)
check "hostb's clipboard holds the same pixels (differing: $diff)" [ "$diff" = "0" ]
check "hostb does not send the imported picture back" zm_no_dialog hostb 3

zm_say "hostb: the user links received text to a browser: the browser choice and the question"
check "settings on hostb: URL automatic link" settings hostb 1 1
printf '%s' "http://example.invalid/" | zm_x hosta xclip -selection clipboard -i
notice hosta notice-announce-url-hosta
win=$(zm_wait_dialog hostb 427 204)
check "hostb asks whether to open it in the browser" [ -n "$win" ]
zm_shot hostb "$win" link-question-hostb
zm_keys hostb "$win" Tab space  # from YES to NO
zm_wait_gone hostb "$win"
notice hosta notice-finished-url-hosta
# The browser's details in the settings.
zm_menu hostb 3 c
win=$(zm_wait_dialog hostb 417 587)
zm_keys hostb "$win" Tab Tab Tab Tab Tab space
choice=$(zm_wait_dialog hostb 397 178)
check "the browser choice shows" [ -n "$choice" ]
zm_shot hostb "$choice" browser-choice-hostb
zm_keys hostb "$choice" Tab space  # from YES to NO
zm_wait_gone hostb "$choice"
zm_keys hostb "$win" Escape
zm_wait_gone hostb "$win"

zm_say "hostb: the version information"
zm_menu hostb 3 a
about=$(zm_wait_dialog hostb 298 259)
check "the About box shows" [ -n "$about" ]
zm_shot hostb "$about" about-hostb
zm_keys hostb "$about" Return
zm_wait_gone hostb "$about"

zm_say "hostb goes to sleep; hosta copies again"
check "settings on hostb: sleep" settings hostb 1 2
printf 'while asleep' | zm_x hosta xclip -selection clipboard -i
notice hosta notice-announce-sleep-hosta
check "hosta still reports the end of the transfer" notice hosta notice-finished-sleep-hosta
check "sleeping hostb shows nothing" zm_no_dialog hostb 2

zm_say "hosta's key line, and no way back to plain once hostb took items encrypted"
# restart_hostb : hostb's program ends and starts again (a new key), asleep as before.
restart_hostb() {
  local pid i
  pid=$(zm_pids hostb "^$program( |\$)")
  [ -n "$pid" ] && kill -TERM "$pid" || return 1
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  wait "${ZM_PID[hostb]}" 2>/dev/null
  zm_desktop hostb
  zm_start hostb "$program"
  # A new start shows the first settings again.
  checker_now[hostb]=2
  receive_now[hostb]=0
  zm_wait_dialog hostb 36 36 >/dev/null && settings hostb 2 2
}
# reset_8002 : hostb resets every connection to port 8002, as someone on the LAN might have
# it, and counts what reaches its plain ports.
reset_8002() {
  zm_on hostb nft -f - <<'RULES'
table inet zmkeys {
  chain input {
    type filter hook input priority 0;
    tcp dport 8002 reject with tcp reset
    tcp dport { 8000, 8001 } counter
  }
}
RULES
}
plain_packets() { zm_on hostb nft list table inet zmkeys | sed -n 's/.*counter packets \([0-9]*\).*/\1/p'; }
# key_case SETUP WANT : after SETUP, hosta copies a text for hostb (asleep: taken without a
# question); hosta's notice follows and its log says WANT of this item.
key_case() {
  local setup=$1 want=$2 before
  [ "$setup" = - ] || "$setup" || return 1
  before=$(wc -l <"$ZM_NET_DIR/zumelko-hosta.log")
  printf 'key case %s' "$setup" | zm_x hosta xclip -selection clipboard -i
  notice hosta "notice-announce-$setup-hosta" || return 1
  notice hosta "notice-end-$setup-hosta" || return 1
  tail -n +$((before + 1)) "$ZM_NET_DIR/zumelko-hosta.log" | grep -- "$want" ||
    { echo "hosta's log: $(tail -n +$((before + 1)) "$ZM_NET_DIR/zumelko-hosta.log")" >&2; return 1; }
}
check "hosta's first item to hostb met a first key" grep -q "sent encrypted to hostb, .*; first key seen" "$ZM_NET_DIR/zumelko-hosta.log"
while IFS='|' read -r what setup want; do
  check "$what" key_case "$setup" "$want"
done <<'CASES'
another item to the same hostb: the same key|-|sent encrypted to hostb, .*; same key as last time
hostb restarted between two items: the key changed|restart_hostb|sent encrypted to hostb, .*; KEY CHANGED
port 8002 reset on hostb after encrypted items: a failure, no plain send|reset_8002|not sending to hostb in plain
CASES
check "nothing reached hostb's ports 8000 and 8001 (packets: $(plain_packets))" [ "$(plain_packets)" = 0 ]
zm_on hostb nft delete table inet zmkeys

zm_say "Passwords: a copy a password manager marked stays on hosta unless its user sends it"
# offer_secret HOST TEXT : the user's password manager copies TEXT on HOST, marked as secret.
offer_secret() {
  zm_x "$1" "$owner" --secret "$2" >/dev/null &
  zm_poll 50 marked "$1"
}
marked() { zm_x "$1" xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx x-kde-passwordManagerHint; }
offer_a() { offer_secret hosta "$1"; }
copy_a() { printf '%s' "$1" | zm_x hosta xclip -selection clipboard -i; }
zm_kept_cases hosta hostb offer_a copy_a
zm_say "hosta's user sends the password on purpose; hostb hides it and marks it on its clipboard"
check "settings on hostb: ask" settings hostb 2 0
check "hosta's password manager copies" offer_secret hosta "s3cret: パスワード"
zm_menu hosta 3 t
check "hostb asks whether to take the password, previews its note, and takes it" look_and_take hostb password
check "hosta reports the end of the transfer" notice hosta notice-finished-password-hosta
check "hostb's log says the item was a password" grep -q "marked as a password: not shown" "$ZM_NET_DIR/zumelko-hostb.log"
check "hostb's clipboard holds the password" [ "$(zm_x hostb xclip -selection clipboard -o)" = "s3cret: パスワード" ]
check "hostb's clipboard offers it marked" \
  [ "$(zm_x hostb xclip -selection clipboard -t x-kde-passwordManagerHint -o)" = secret ]

zm_say "hosta: a second instance on the same machine"
ZM_PID[first]=${ZM_PID[hosta]}
zm_start hosta "$program"
ZM_PID[second]=${ZM_PID[hosta]}
win=$(zm_wait_notice hosta)
check "the second instance shows the listener error" [ -n "$win" ]
zm_shot hosta "$win" notice-second-instance-hosta
zm_keys hosta "$win" space
sleep 1
check "the second instance keeps running" kill -0 "${ZM_PID[second]}"
check "the first instance keeps running" kill -0 "${ZM_PID[first]}"

zm_say "screenshots in $out:"
ls "$out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
