#!/usr/bin/env bash
# The program on its own desktop while several senders (zumelko-send on other test hosts) send
# at once: items that arrive while the receive question is open wait, one question at a time,
# and each sender ends only after its own answer; more than eight waiting are refused. Also the
# link button on a text that is no web address, and the notice of a second instance, which is
# wider than the designed dialog.
# Usage: held-items.sh PATH/TO/zumelko PATH/TO/zumelko-send OUTPUT-DIR
set -uo pipefail
program=$(readlink -f "$1")
send=$(readlink -f "$2")
out=$(mkdir -p "$3" && cd "$3" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the test hosts"
  exit 77
fi
here=$(dirname "$(readlink -f "$0")")
. "$here/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"

zm_net_up prog a b c
zm_desktop prog
zm_start prog "$program" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
check "the program starts" zm_wait_dialog prog 36 36 30 >/dev/null
d=$ZM_NET_DIR
declare -A sender
# send_from HOST NAME TEXT : zumelko-send on HOST, in the background; its exit code goes to $d/NAME.rc.
send_from() {
  (zm_on "$1" timeout 120 "$send" prog "$3" 2>"$d/$2.err"; echo $? >"$d/$2.rc") &
  sender[$2]=$!
}
running() { [ ! -e "$d/$1.rc" ]; }
ended_with_0() {
  local i
  for ((i = 0; i < 50; i++)); do [ -e "$d/$1.rc" ] && break; sleep 0.1; done
  [ "$(cat "$d/$1.rc" 2>/dev/null)" = 0 ] || { echo "$1: exit $(cat "$d/$1.rc" 2>/dev/null) $(cat "$d/$1.err")" >&2; return 1; }
}
none_ended() {
  local name
  for name in "$@"; do [ ! -e "$d/$name.rc" ] || return 1; done
}
all_ended_with_0() {
  local name
  for name in "$@"; do ended_with_0 "$name" || return 1; done
}
receive_dialogs() { zm_windows prog | awk '$2 == 465 && $3 == 183' | wc -l; }
clipboard_is() { [ "$(zm_x prog xclip -selection clipboard -o 2>/dev/null)" = "$1" ]; }

# Three senders: the first is asked about; the other two arrive while its question is open.
send_from a first "from a"
first=$(zm_wait_dialog prog 465 183 15)
check "the first item is asked about" [ -n "$first" ]
zm_shot prog "$first" first-item
send_from b second "from b"
sleep 1
send_from c third "from c"
sleep 1.5
check "one question is open, not three" [ "$(receive_dialogs)" -eq 1 ]
check "no sender has ended yet" none_ended first second third

zm_keys prog "$first" space  # YES
zm_wait_gone prog "$first"
check "the first sender ends with 0 after its answer" ended_with_0 first
check "the first text is in the clipboard" clipboard_is "from a"
second=$(zm_wait_dialog prog 465 183 15)
check "the second item is asked about next" [ -n "$second" ]
zm_shot prog "$second" second-item
check "the second and third senders still wait" none_ended second third

# The link button on a text that is no web address: a notice, and no browser question.
zm_keys prog "$second" Tab Tab Tab space
check "the link button says the text is no web address" notice prog link-not-an-address 10
no_browser_choice() { ! zm_windows prog | awk '$2 == 397 && $3 == 178' | grep -q .; }
check "no browser choice was asked" no_browser_choice
# Back on リンク: NO is two to the left.
zm_keys prog "$second" shift+Tab shift+Tab space
zm_wait_gone prog "$second"
check "the second sender ends with 0 after its answer" ended_with_0 second
check "NO left the clipboard alone" clipboard_is "from a"
third=$(zm_wait_dialog prog 465 183 15)
check "the third item is asked about last" [ -n "$third" ]
check "the third sender still waits" running third
zm_keys prog "$third" space
zm_wait_gone prog "$third"
check "the third sender ends with 0 after its answer" ended_with_0 third
check "the third text is in the clipboard" clipboard_is "from c"
check "nothing more is asked" zm_no_dialog prog 1

# Eight wait at most: a ninth sent while they wait is refused at once.
send_from a open "open"
open=$(zm_wait_dialog prog 465 183 15)
for i in 1 2 3 4 5 6 7 8; do
  send_from b "w$i" "waiting $i"
  sleep 0.4
done
sleep 1
send_from c ninth "ninth"
for ((i = 0; i < 100; i++)); do [ -e "$d/ninth.rc" ] && break; sleep 0.1; done
check "the ninth sender is let go while the question is open" [ -e "$d/ninth.rc" ]
zm_say "the refused sender's zumelko-send ended with $(cat "$d/ninth.rc" 2>/dev/null): $(cat "$d/ninth.err")"
check "the refused sender hears that nothing was delivered" [ "$(cat "$d/ninth.rc" 2>/dev/null)" = 1 ]
check "the program says why in its log" grep -q "refused an item of 6 bytes from $(zm_net_addr c): 8 items" "$d/zumelko-prog.log"
check "the eight still wait" none_ended w1 w2 w3 w4 w5 w6 w7 w8
asked=0
in_turn=yes
win=$open
while [ -n "$win" ]; do
  asked=$((asked + 1))
  zm_keys prog "$win" Tab space  # NO
  zm_wait_gone prog "$win"
  # The senders are let go in the order they came, each after its own answer.
  if [ "$asked" -ge 2 ]; then
    ended_with_0 "w$((asked - 1))" || in_turn=no
    [ "$asked" -le 8 ] && ! none_ended "w$asked" && in_turn=no
  fi
  win=$(zm_wait_dialog prog 465 183 3 2>/dev/null)
done
check "the open item and the eight waiting ones were asked about, one by one ($asked)" [ "$asked" -eq 9 ]
check "each waiting sender was let go right after its own answer" [ "$in_turn" = yes ]
check "every waiting sender ended with 0" all_ended_with_0 w1 w2 w3 w4 w5 w6 w7 w8

# A second instance on the same machine cannot listen: its notice is wider than the designed
# dialog and shows the whole text.
before=$(ip netns pids "${ZM_NET_PREFIX}prog")
zm_x prog env ASAN_OPTIONS=detect_leaks=0 "$program" >"$d/second-instance.log" 2>&1 &
wide=""
for ((i = 0; i < 100; i++)); do
  wide=$(zm_windows prog | awk '$3 == 141 && $2 > 427 { print $1; exit }')
  [ -n "$wide" ] && break
  sleep 0.2
done
check "a second instance shows a notice wider than the designed dialog" [ -n "$wide" ]
[ -n "$wide" ] && zm_shot prog "$wide" second-instance-notice
zm_say "its windows: $(zm_windows prog | tr '\n' ';')"
for p in $(ip netns pids "${ZM_NET_PREFIX}prog"); do
  grep -qx "$p" <<<"$before" && continue
  [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$program" ] && kill "$p"
done
check "the first program is still running" zm_alive prog
check "the program logged no sanitizer report" \
  bash -c "! grep -qE 'AddressSanitizer|LeakSanitizer|runtime error:' '$d/zumelko-prog.log'"

zm_say "passed $passed, failed $failed"
[ "$failed" -eq 0 ]
