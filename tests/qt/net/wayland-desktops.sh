#!/usr/bin/env bash
# Two desktops in Wayland sessions on two test hosts: each host runs a headless sway, and the
# program takes the clipboard from it through wl-paste and wl-copy, as it chooses by itself from
# the session. A Wayland client (wl-copy) copies a text and a picture on hosta; the program
# forwards them to hostb, where wl-paste reads the same bytes and pixels and the import is not
# sent back. Then the clipboard is lost twice: hosta's wl-paste is killed, and hostb's
# compositor is stopped and started again; each program keeps running, says so once, and
# forwards again, and hostb puts what it had taken on the new compositor's clipboard. A copy a
# password manager marked stays on hosta in both checker modes and, sent on request, is offered
# marked on hostb. Last,
# SIGTERM ends hosta's program and SIGINT hostb's, each as its exit does, wl-paste and wl-copy
# included (zm_quit). hostb watches as wl-clipboard 2.2 and later do, through the stand-in of
# wayland/wl-clipboard-2.2, which also reports an emptied clipboard and reports every change
# twice; hosta through the wl-clipboard installed here. The dialogs are drawn on an X display of
# each host's own (Xvfb), where xdotool plays the user as in the other desktop tests; the
# clipboard is sway's alone.
# Usage: wayland-desktops.sh PATH/TO/zumelko OUTPUT-DIR
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
out=$(mkdir -p "$2" && cd "$2" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1 || ! command -v sway >/dev/null ||
  ! command -v wl-copy >/dev/null; then
  echo "SKIP: needs root, ip netns, sway and wl-clipboard"
  exit 77
fi
. "$here/desktop-hosts.sh"
. "$here/../wayland/sway.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"
zw_user
# The build tree is root's: the test user runs a copy.
install -m 755 "$1" "$ZM_NET_DIR/zumelko"
# Its tool for marked copies, where it looks for it: beside it.
install -m 755 "$(dirname "$1")/zumelko-wl-offer" "$ZM_NET_DIR/"
install -d -m 755 "$ZM_NET_DIR/wl-clipboard-2.2"
install -m 755 "$here/../wayland/wl-clipboard-2.2/wl-paste" "$here/../wayland/wl-clipboard-2.2/wl-copy" \
  "$ZM_NET_DIR/wl-clipboard-2.2/"
declare -A tools=([hosta]=/usr/bin [hostb]="$ZM_NET_DIR/wl-clipboard-2.2")

wl() {
  local host=$1
  shift
  zm_on "$host" bash -c "$(declare -f zw_as); ZW_USER=$ZW_USER; zw_as \"\$@\"" zw "$ZM_NET_DIR/wl-$host" "$@"
}
start() {
  local host=$1
  wl "$host" DISPLAY="${ZM_DISPLAY[$host]}" PATH="${tools[$host]}:/usr/local/bin:/usr/bin:/bin" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" "$ZM_NET_DIR/zumelko" >"$ZM_NET_DIR/zumelko-$host.log" 2>&1 &
  ZM_PID[$host]=$!
}
sway_on() { zw_sway "$ZM_NET_DIR/wl-$1" zm_on "$1"; }
said() { grep -c "$2" "$ZM_NET_DIR/zumelko-$1.log"; }
wait_said() {
  local i
  for ((i = 0; i < 150; i++)); do
    [ "$(said "$1" "$2")" -ge "${3:-1}" ] && return 0
    sleep 0.1
  done
  cat "$ZM_NET_DIR/zumelko-$1.log" >&2
  return 1
}
# take HOST NAME : the receive dialog on the host, answered YES.
take() {
  local win
  win=$(zm_wait_dialog "$1" 465 183) || return 1
  zm_shot "$1" "$win" "$2"
  zm_keys "$1" "$win" space
  zm_wait_gone "$1" "$win"
}
# forward TEXT : hosta's user copies the text; it is taken on hostb and is there for wl-paste.
forward() {
  printf '%s' "$1" | wl hosta wl-copy
  notice hosta notice-announce && take hostb receive-text && notice hosta notice-finished &&
    [ "$(wl hostb wl-paste --no-newline)" = "$1" ]
}

zm_say "Two test hosts, each with a headless sway and an X display for the dialogs"
zm_net_up hosta hostb
for host in hosta hostb; do
  zm_desktop "$host"
  zw_home "$ZM_NET_DIR/wl-$host"
  sway_on "$host" || exit 1
  start "$host"
done
check "the icon window appears on hosta" zm_wait_dialog hosta 36 36 30 >/dev/null
check "the icon window appears on hostb" zm_wait_dialog hostb 36 36 30 >/dev/null
for host in hosta hostb; do
  check "$host takes the clipboard from sway" wait_said "$host" "using the Wayland clipboard"
done
check "settings on hosta: send to hostb" settings hosta 1 0 hostb
check "settings on hostb: send to hosta, so that an import sent back would show" settings hostb 1 0 hosta

text="Wayland: クリップボード \"quoted\" ; \$(not run) --help <b>x</b>"
zm_say "hosta: a Wayland client copies a text"
check "the text is forwarded and wl-paste on hostb reads the same bytes" forward "$text"
check "hostb does not send the imported text back" zm_no_dialog hostb 3
check "hosta gets nothing back" zm_no_dialog hosta 1

zm_say "hosta: a Wayland client copies a picture"
zm_on hosta convert -size 173x97 -seed 7 plasma:fractal -depth 8 "PNG24:$ZM_NET_DIR/picture.png"
chmod 644 "$ZM_NET_DIR/picture.png"
wl hosta wl-copy --type image/png <"$ZM_NET_DIR/picture.png"
check "hosta announces the picture" notice hosta notice-announce-picture
check "hostb takes the picture" take hostb receive-picture
check "hosta reports the end of the picture's transfer" notice hosta notice-finished-picture
wl hostb wl-paste --list-types >"$ZM_NET_DIR/types"
check "hostb offers the picture as image/png" grep -qx image/png "$ZM_NET_DIR/types"
wl hostb wl-paste --type image/png >"$ZM_NET_DIR/received.png"
diff=$(compare -metric AE "$ZM_NET_DIR/picture.png" "$ZM_NET_DIR/received.png" null: 2>&1)
check "wl-paste on hostb reads the same pixels (differing: $diff)" [ "$diff" = "0" ]
check "hostb does not send the imported picture back" zm_no_dialog hostb 3

zm_say "hosta: its wl-paste is killed"
watch=$(zm_pids hosta 'wl-paste --watch')
check "hosta watches through wl-paste" [ -n "$watch" ]
kill -9 $watch
check "hosta says it lost the clipboard" wait_said hosta "lost the Wayland clipboard"
check "hosta says it watches again" wait_said hosta "watching the Wayland clipboard again"
check "the next text is forwarded" forward "after the watch came back"
check "hosta said so once" [ "$(said hosta "lost the Wayland clipboard")" -eq 1 ]

zm_say "hostb: its compositor stops, and starts again a few seconds later"
kill $(zm_pids hostb '^sway ')
check "hostb says it lost the clipboard" wait_said hostb "lost the Wayland clipboard"
sleep 4
check "hostb keeps running while the compositor is away" zm_alive hostb
check "hostb said so once while it kept trying" [ "$(said hostb "lost the Wayland clipboard")" -eq 1 ]
check "hostb's compositor starts again" sway_on hostb
check "hostb says it watches again" wait_said hostb "watching the Wayland clipboard again"
check "the text hostb took before is on the new compositor's clipboard" \
  eval '[ "$(wl hostb wl-paste --no-newline)" = "after the watch came back" ]'
check "a text is forwarded to the new compositor" forward "to the new compositor"
check "hostb does not send it back" zm_no_dialog hostb 3
check "both programs still run" eval 'zm_alive hosta && zm_alive hostb'

zm_say "Passwords: hosta's password manager copies (the program's own tool offers a marked text)"
offer_a() {
  { printf 'text/plain;charset=utf-8 text/plain\n%s\n%s' "$(printf '%s' "$1" | wc -c)" "$1"
    printf 'x-kde-passwordManagerHint\n6\nsecret'; } | wl hosta "$ZM_NET_DIR/zumelko-wl-offer" >/dev/null &
  zm_poll 50 marked
}
marked() { wl hosta wl-paste --list-types 2>/dev/null | grep -qx x-kde-passwordManagerHint; }
copy_a() { printf '%s' "$1" | wl hosta wl-copy; }
check "settings on hostb: asleep" settings hostb 1 2
zm_kept_cases hosta hostb offer_a copy_a
check "settings on hostb: ask" settings hostb 1 0
check "hosta's password manager copies again" offer_a "s3cret: パスワード"
zm_menu hosta 3 t
check "hostb takes the password sent on request" take hostb receive-password
check "hosta reports the end of its transfer" notice hosta notice-finished-password
check "hostb's log says it was a password" wait_said hostb "marked as a password: not shown"
check "wl-paste on hostb reads the password" [ "$(wl hostb wl-paste --no-newline)" = "s3cret: パスワード" ]
check "hostb offers it marked" [ "$(wl hostb wl-paste --no-newline --type x-kde-passwordManagerHint)" = secret ]
check "hostb does not send it back" zm_no_dialog hosta 3

zm_say "The programs are ended by signals"
check "hosta watches and serves through wl-paste and wl-copy" [ -n "$(zm_pids hosta '^/usr/bin/wl-(paste|copy)')" ]
check "hostb watches through the stand-in's wl-paste" [ -n "$(zm_pids hostb 'wl-paste --watch .*wl-clipboard-2.2')" ]
check "SIGTERM ends hosta's program as its exit does" zm_quit hosta TERM "$ZM_NET_DIR/zumelko"
check "SIGINT ends hostb's program as its exit does" zm_quit hostb INT "$ZM_NET_DIR/zumelko"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
