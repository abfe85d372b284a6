#!/usr/bin/env bash
# A Windows PC and a Linux PC on one LAN: the Windows program under Wine on test host "winpc"
# (its own Wine session: display, wineserver, Japanese locale), the Linux program on "linpc"
# with its own X display, and a receiver on "probe" that keeps the raw packets it is sent.
# Both users are played from outside their program: desk_user.exe finds the Windows dialogs and
# clicks them, xdotool and xclip do it on Linux. Checked: what each program puts on the wire
# for the same ASCII text, byte for byte, to a receiver that knows only the plain channels;
# texts (ASCII and Japanese) and a picture going both ways over the encrypted channel, with the
# same check code in the sender's and the receiver's log, and taken into the receiving
# clipboard with YES; an imported item is not sent back. A copy a password manager marked is
# not forwarded by a clipboard change (nothing reaches the other host), is sent on request, and
# arrives with the receiving desktop's own marks.
# Usage: windows-and-linux.sh WINDOWS-BUILD-DIR LINUX-PROGRAM OUTPUT-DIR [LINUX-CLIP-OWNER]
# (WINDOWS-BUILD-DIR holds zumelko.exe and tests/win32/desk_user.exe; the Wine prefix is kept
# there under wine-two-desktops, made on the first run. LINUX-CLIP-OWNER, by default beside the
# Linux program in its build tree, offers a marked text on linpc's display.)
set -uo pipefail
winbuild=$(readlink -f "$1")
program=$(readlink -f "$2")
out=$(mkdir -p "$3" && cd "$3" && pwd)
owner=$(readlink -f "${4:-$(dirname "$2")/tests/qt/zumelko-clip-owner}")
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the test hosts"
  exit 77
fi
# The Linux program comes from another build tree (scripts/test makes it first).
if [ ! -x "$program" ]; then
  echo "SKIP: no Linux program at $program (build build/test first, or set ZUMELKO_LINUX_PROGRAM)"
  exit 77
fi
for f in "$winbuild/zumelko.exe" "$winbuild/tests/win32/desk_user.exe" "$winbuild/tests/win32/clip_put.exe" "$owner"; do
  [ -e "$f" ] || { echo "missing $f" >&2; exit 1; }
done
. "$here/../qt/net/desktop-hosts.sh"
ZM_SHOTS="$out"
session="$winbuild/wine-two-desktops"
ZM_STARTED=$(date +%s)

# Winsock's sockets are made by the wineserver, so the whole session lives on the host.
win_down() { zm_on winpc "$here/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; }
trap 'win_down; zm_net_down' EXIT

# wine_on COMMAND... : a Windows program on winpc, in the session.
wine_on() {
  zm_on winpc bash -c '. "$0/env" && exec "$WINE_BIN/wine64" "$@"' "$session" "$@"
}
user() { wine_on "$winbuild/tests/win32/desk_user.exe" "$@"; }
# win_shot NAME : a picture of the Windows screen (kept for looking at; never a check).
win_shot() {
  sleep 0.3  # a dialog just shown is painted a moment later
  # shellcheck disable=SC1091
  (. "$session/env" && import -window root "$ZM_SHOTS/$1.png") || echo "no picture $1" >&2
}
listening() { zm_on "$1" ss -Hltn "sport = :${2:-8001}" | grep -q .; }
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}

# win_settings DESTINATION : the Windows user sends every copy to DESTINATION.
win_settings() {
  user menu RIGHT c && user wait 417 587 && win_shot "settings-winpc" &&
    user click 417 587 "有 ： デフォルトへ送信する" && user click 417 587 "詳細" &&
    user type 427 123 "$1" && win_shot "chooser-winpc" &&
    user click 427 123 OK && wait_for user absent 427 123 0 &&
    user click 417 587 OK && wait_for user absent 417 587 0
}
# win_notice NAME [WIDTH] : the Windows notice is shown; its picture is kept and OK pressed.
# It widens to keep its text on one line: the end of an encrypted transfer, with the check code
# and the key line after it, takes it to 542 or more (-542: at least that wide).
win_notice() {
  local w=${2:-427}
  user wait "$w" 141 && win_shot "$1" && user click "$w" 141 OK && wait_for user absent "$w" 141 0
}
win_answers_yes() {
  user wait 465 183 && win_shot "$1" && user click 465 183 YES && wait_for user absent 465 183 0
}
lin_answers_yes() {
  local win
  win=$(zm_wait_dialog linpc 465 183) || return 1
  zm_shot linpc "$win" "$1"
  zm_keys linpc "$win" space  # YES has the focus
  zm_wait_gone linpc "$win"
}
# Nothing is sent back: no announcement on the importing side, no question on the other.
not_sent_back() {
  local importer=$1
  if [ "$importer" = winpc ]; then
    user absent -427 141 2 && zm_no_dialog linpc 1
  else
    zm_no_dialog linpc 2 && user absent 465 183 1
  fi
}

zm_say "Test hosts winpc (the Windows program under Wine), linpc (the Linux program) and probe"
zm_net_up winpc linpc probe
zm_desktop linpc
mkdir -p "$ZM_NET_DIR/probe"
zm_on probe python3 "$here/record-packets.py" "$ZM_NET_DIR/probe" 2>"$ZM_NET_DIR/probe.log" &
# A prefix made by the Windows tests' session saves making one (about 20 s).
if [ ! -f "$session/prefix/.zumelko-ready" ] && [ -f "$winbuild/wine-session/prefix/.zumelko-ready" ]; then
  mkdir -p "$session" && cp -a "$winbuild/wine-session/prefix" "$session/prefix"
fi
zm_on winpc env ZUMELKO_WINE_OWN_NETWORK=0 "$here/wine-session.sh" start "$session" >"$ZM_NET_DIR/wine-session.log" 2>&1 ||
  { cat "$ZM_NET_DIR/wine-session.log"; exit 1; }
wine_on "$winbuild/zumelko.exe" >"$ZM_NET_DIR/zumelko-winpc.log" 2>&1 &
zm_start linpc "$program"
check "the Windows program listens on winpc" wait_for listening winpc
check "the Linux program listens on linpc" wait_for listening linpc
check "the receiver listens on probe" wait_for listening probe
check "the Windows program listens for encrypted items on winpc" wait_for listening winpc 8002
check "the Linux program listens for encrypted items on linpc" wait_for listening linpc 8002

zm_say "The same ASCII text copied on each side, sent to the receiver on probe"
ascii='Meeting at 15:00, room B-2 (bring the "draft" & notes)'
check "linpc: settings, default destination probe" settings linpc 1 0 probe
printf '%s' "$ascii" | zm_x linpc xclip -selection clipboard -i
check "linpc announces the transfer" notice linpc notice-announce-probe-linpc
check "linpc reports the end of the transfer" notice linpc notice-finished-probe-linpc
check "winpc: settings, default destination probe" win_settings probe
check "winpc: another program copies the text" user put-text "$ascii"
check "winpc announces the transfer" win_notice notice-announce-probe-winpc
check "winpc reports the end of the transfer" win_notice notice-finished-probe-winpc
p=$ZM_NET_DIR/probe
check "the receiver got two headers and two data packets" \
  test -f "$p/8000-2.bin" -a -f "$p/8001-2.bin" -a ! -e "$p/8000-3.bin"
# The header's second and third lines are the user's and the machine's names, which differ
# between the two hosts, and so are its fifth and sixth (the same names exactly); fixed here,
# the rest must agree byte for byte.
fixed_names() { python3 -c '
import sys
data = open(sys.argv[1], "rb").read()[4:]
lines = data.split(b"\r\n")
lines[1:3] = [b"USER", b"MACHINE"]
lines[4:6] = [b"USER", b"MACHINE"]
body = b"\r\n".join(lines)
sys.stdout.buffer.write(len(body).to_bytes(4, "little") + body)' "$1"; }
check "the header packets agree byte for byte (names aside)" \
  cmp <(fixed_names "$p/8000-1.bin") <(fixed_names "$p/8000-2.bin")
check "the header packets name the type, both names and code page 932" \
  python3 -c 'import sys; l = open(sys.argv[1], "rb").read()[4:].split(b"\r\n"); sys.exit(not (l[0] == b"string" and all(l[1:3]) and l[3] == b"zumelko-text cp932"))' "$p/8000-2.bin"
check "the data packets agree byte for byte" cmp "$p/8001-1.bin" "$p/8001-2.bin"
check "neither program logged an encrypted send to the receiver" \
  bash -c '! grep -aq "sent encrypted" "$0" "$1"' "$ZM_NET_DIR/zumelko-winpc.log" "$ZM_NET_DIR/zumelko-linpc.log"
od -A d -c "$p/8000-2.bin" | head -n 4

zm_say "Now each sends to the other"
check "linpc: default destination winpc" settings linpc 1 0 winpc
check "winpc: default destination linpc" win_settings linpc

# same_code FROM TO : the item just sent from host FROM to host TO went encrypted: FROM's log
# has one more "sent encrypted to TO" line than before, TO's one more "encrypted item from FROM",
# and both end with the same check code, one not seen before.
declare -A sent_count=([linpc]=0 [winpc]=0)
seen_codes=" "
log_of() { printf '%s' "$ZM_NET_DIR/zumelko-$1.log"; }
codes() { grep -a "$2" "$1" | sed -n 's/.*check code \([0-9]\{4\} [0-9]\{4\} [0-9]\{4\}\).*/\1/p'; }
same_code() {
  local from=$1 to=$2 sent got n
  n=$((sent_count[$from] + 1))
  sent_count[$from]=$n
  sent=$(codes "$(log_of "$from")" "zumelko: sent encrypted to $to,")
  got=$(codes "$(log_of "$to")" "zumelko: encrypted item from $(zm_net_addr "$from"),")
  echo "check codes: sent ${sent##*$'\n'}, received ${got##*$'\n'}"
  [ -n "$sent" ] && [ "$(wc -l <<<"$sent")" -eq "$n" ] && [ "$(wc -l <<<"$got")" -eq "$n" ] &&
    [ "${sent##*$'\n'}" = "${got##*$'\n'}" ] && [[ "$seen_codes" != *" ${sent##*$'\n'} "* ]] &&
    seen_codes+="${sent##*$'\n'} "
}

# text_to_windows NAME TEXT / text_to_linux NAME TEXT : one text copied on one side, taken with
# YES on the other, compared there as Unicode, and not sent back.
text_to_windows() {
  local name=$1 text=$2
  printf '%s' "$text" | zm_x linpc xclip -selection clipboard -i
  check "linpc announces the $name" notice linpc "notice-announce-$name-linpc"
  check "winpc asks whether to take the $name; YES" win_answers_yes "receive-$name-winpc"
  check "linpc reports the end of the $name's transfer" notice linpc "notice-finished-$name-linpc"
  check "the $name went encrypted, one check code at both ends" same_code linpc winpc
  local got
  got=$(user get-text)
  check "winpc's clipboard holds the same $name (got: $got)" [ "$got" = "$text" ]
  check "winpc does not send the $name back" not_sent_back winpc
}
text_to_linux() {
  local name=$1 text=$2
  check "winpc: another program copies the $name" user put-text "$text"
  check "winpc announces the $name" win_notice "notice-announce-$name-winpc"
  check "linpc asks whether to take the $name; YES" lin_answers_yes "receive-$name-linpc"
  check "winpc reports the end of the $name's transfer" win_notice "notice-finished-$name-winpc" -542
  check "the $name went encrypted, one check code at both ends" same_code winpc linpc
  local got
  got=$(zm_x linpc xclip -selection clipboard -o)
  check "linpc's clipboard holds the same $name (got: $got)" [ "$got" = "$text" ]
  check "linpc does not send the $name back" not_sent_back linpc
}

zm_say "Text from Linux to Windows and back"
text_to_windows "ASCII text" 'cd ~/src && make -j2 # $(id) `x` <b>bold</b> 100%'
text_to_linux "ASCII text" 'C:\Users\hanako\report.doc; echo %PATH% | "quoted" 50% & more'

zm_say "A picture from Linux to Windows and back"
zm_x linpc convert -size 173x97 -seed 7 plasma:fractal -depth 8 "PNG24:$ZM_NET_DIR/picture.png"
zm_x linpc xclip -selection clipboard -t image/png -i "$ZM_NET_DIR/picture.png"
check "linpc announces the picture" notice linpc notice-announce-picture-linpc
check "winpc asks whether to take the picture; YES" win_answers_yes receive-picture-winpc
check "linpc reports the end of the picture's transfer" notice linpc notice-finished-picture-linpc
check "the picture went encrypted, one check code at both ends" same_code linpc winpc
check "winpc's clipboard holds a picture" user get-picture "$ZM_NET_DIR/on-winpc.bmp"
diff=$(compare -metric AE "$ZM_NET_DIR/picture.png" "$ZM_NET_DIR/on-winpc.bmp" null: 2>&1)
check "winpc's clipboard holds the same pixels (differing: $diff)" [ "$diff" = "0" ]
check "winpc does not send the picture back" not_sent_back winpc

convert -size 211x64 -seed 11 plasma:fractal -depth 8 -type TrueColor "BMP3:$ZM_NET_DIR/picture.bmp"
check "winpc: another program copies a picture" user put-picture "$ZM_NET_DIR/picture.bmp"
check "winpc announces the picture" win_notice notice-announce-picture-winpc
check "linpc asks whether to take the picture; YES" lin_answers_yes receive-picture-linpc
check "winpc reports the end of the picture's transfer" win_notice notice-finished-picture-winpc -542
check "the picture went encrypted, one check code at both ends" same_code winpc linpc
zm_x linpc xclip -selection clipboard -t image/png -o >"$ZM_NET_DIR/on-linpc.png"
diff=$(compare -metric AE "$ZM_NET_DIR/picture.bmp" "$ZM_NET_DIR/on-linpc.png" null: 2>&1)
check "linpc's clipboard holds the same pixels (differing: $diff)" [ "$diff" = "0" ]
check "linpc does not send the picture back" not_sent_back linpc

zm_say "Japanese text from Linux to Windows and back"
text_to_windows "Japanese text" '会議は３時から、第２会議室で。ﾃｽﾄ'
text_to_linux "Japanese text" '資料は「共有」フォルダーにあります。 ｶﾀｶﾅ ﾟ'
# Characters code page 932 has no place for, or only a close one, travel exactly both ways;
# half-width kana that are also UTF-8 bytes (ﾊｲ) are read as what they are.
text_to_windows "text beyond code page 932" 'Grüße, 안녕하세요 😀 — 会議 ¥1,000 〜 ﾊｲ'
text_to_linux "text beyond code page 932" '¥1,000 〜 − ‖ ‾ 😀 ﾊｲ ﾀｱ 한국어'

zm_say "Copies a password manager marked: kept from a clipboard change, sent on request, marked on arrival"
# From here on linpc counts what reaches its ports, and sleeps: an item sent to it is taken
# without a question, so that only winpc's notice shows it went.
zm_count_in linpc
reached_linpc() { zm_counted linpc; }
check "linpc: asleep" settings linpc 1 2
# new_in HOST LINES PATTERN : HOST's log has a line matching PATTERN after its first LINES.
new_in() { tail -n +$(($2 + 1)) "$(log_of "$1")" | grep -q -- "$3" || { echo "no \"$3\" in $1's log" >&2; return 1; }; }
# kept CHECKER-ITEM W H : with that checker item chosen on winpc, a marked copy there brings no
# dialog, nothing to linpc's ports and one log line; the ordinary copy after it brings the
# dialog W x H (the announcement or the chooser), which OK lets go to linpc.
kept() {
  local lines packets
  user menu RIGHT c && user click 417 587 "$1" && user click 417 587 OK && wait_for user absent 417 587 0 || return 1
  lines=$(wc -l <"$(log_of winpc)")
  packets=$(reached_linpc)
  wine_on "$winbuild/tests/win32/clip_put.exe" --secret "hunter2, case $2x$3" && user absent 427 123 3 || return 1
  [ "$(reached_linpc)" = "$packets" ] || { echo "$(($(reached_linpc) - packets)) packets reached linpc" >&2; return 1; }
  user absent -427 141 0 && new_in winpc "$lines" "zumelko: a copy marked as a password was not forwarded" || return 1
  user put-text "ordinary, case $2x$3" && user click "$2" "$3" OK && wait_for user absent "$2" "$3" 0 &&
    win_notice "notice-after-secret-$2x$3-winpc" -427 && new_in winpc "$lines" "zumelko: sent encrypted to linpc,"
}
# marked_to_linux / marked_to_windows : the sending side's user copies a marked text (kept, as
# above) and sends it with "デフォルトへ転送(&T)"; the other side asks, YES, and its clipboard
# holds the text with its desktop's marks (winpc's preview shows a note instead of the text).
marked_to_linux() {
  local lines text='S3cret to linpc' targets
  settings linpc 1 0 && lines=$(wc -l <"$(log_of linpc)") || return 1
  wine_on "$winbuild/tests/win32/clip_put.exe" --secret "$text" && user absent 427 123 2 && user absent -427 141 0 && user menu RIGHT t &&
    lin_answers_yes receive-marked-linpc && win_notice notice-finished-marked-winpc -427 || return 1
  targets=$(zm_x linpc xclip -selection clipboard -t TARGETS -o)
  grep -qx x-kde-passwordManagerHint <<<"$targets" || { echo "linpc's targets: $targets" >&2; return 1; }
  [ "$(zm_x linpc xclip -selection clipboard -t x-kde-passwordManagerHint -o)" = secret ] &&
    [ "$(zm_x linpc xclip -selection clipboard -o)" = "$text" ] && new_in linpc "$lines" "is marked as a password"
}
marked_to_windows() {
  local lines text='S3cret to winpc' formats preview
  lines=$(wc -l <"$(log_of winpc)")
  zm_x linpc "$owner" --secret "$text" >"$ZM_NET_DIR/owner.out" 2>&1 &
  wait_for grep -q ready "$ZM_NET_DIR/owner.out" && zm_no_dialog linpc 2 && zm_menu linpc 3 t &&
    user click 465 183 プレビュー && preview=$(user text 302 333) && win_shot preview-marked-winpc &&
    user click 302 333 OK && wait_for user absent 302 333 0 || return 1
  [[ "$preview" == *パスワードを受信しました。*内容は表示しません。* && "$preview" != *"$text"* ]] ||
    { echo "winpc's preview shows: $preview" >&2; return 1; }
  win_answers_yes receive-marked-winpc && notice linpc notice-finished-marked-linpc || return 1
  formats=$(user formats | tr -d '\r')
  # The exclusion counts by its presence, whatever it holds.
  for f in ExcludeClipboardContentFromMonitorProcessing CanIncludeInClipboardHistory=0 CanUploadToCloudClipboard=0; do
    grep -qxE "$f(=.*)?" <<<"$formats" || { echo "not on winpc's clipboard: $f; there: $formats" >&2; return 1; }
  done
  [ "$(user get-text)" = "$text" ] && new_in winpc "$lines" "is marked as a password"
}
while IFS='|' read -r what case item size; do
  # shellcheck disable=SC2086  # the size is two words
  check "$what" "$case" "$item" $size
done <<'CASES'
winpc sending to linpc by default: a marked copy is kept, the next one goes|kept|有 ： デフォルトへ送信する|427 141
winpc asking for each copy: a marked copy is kept, the next one goes|kept|有 ： 転送先を毎回選択する|427 123
winpc's user sends a marked copy: linpc asks and takes it marked|marked_to_linux||
linpc's user sends a marked copy: winpc asks and takes it marked|marked_to_windows||
CASES
for pid in $(zm_pids linpc "$owner"); do kill "$pid"; done

check "the Windows program still listens" listening winpc
check "the Linux program is still running" zm_alive linpc
zm_say "pictures in $out; $(($(date +%s) - ZM_STARTED)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
