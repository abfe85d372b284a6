#!/usr/bin/env bash
# The program on a test host of its own, with its own X display, and a stranger on another
# host of the same segment doing what anyone there could: floods of connections, a slow drip,
# absurd and negative lengths, resets in the middle of a packet, two senders at once, a
# "bitmap" that is none, markup for names, texts that are no web address for the link button.
# After each: the program still runs and shows no error box, its memory is back under the
# bound, its open files are back near where they were, and a good text sent next is offered
# and lands in the X clipboard byte for byte.
# Usage: hostile-peers.sh PATH/TO/zumelko OUTPUT-DIR
set -uo pipefail
program=$(readlink -f "$1")
out=$(mkdir -p "$2" && cd "$2" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the test hosts"
  exit 77
fi
here=$(dirname "$(readlink -f "$0")")
. "$here/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"

# The resident set may grow over the idle program by at most this much after an attack has
# ended. Idle is measured after one good text has been taken, so fonts and dialogs are loaded.
rss_slack_mib=${ZM_HOSTILE_RSS_SLACK_MIB:-64}
# Files the program may keep open beyond idle (sockets of a transfer still closing).
fd_slack=${ZM_HOSTILE_FD_SLACK:-16}


peer() { zm_on peer timeout 60 python3 "$here/hostile-peer.py" "$@"; }

zm_say "The program on host prog, a stranger on host peer"
zm_net_up prog peer
zm_desktop prog
addr=$(zm_net_addr prog)
# A browser that only notes how it was started: the link button's texts must never reach it
# unless they are web addresses.
mkdir -p "$ZM_NET_DIR/bin"
cat >"$ZM_NET_DIR/bin/firefox" <<'SH'
#!/bin/sh
printf '%s\0' "$@" >>"$0.log"
SH
chmod 755 "$ZM_NET_DIR/bin/firefox"
browser_log="$ZM_NET_DIR/bin/firefox.log"
# A small quarantine, so that memory the program gives back shows as given back.
zm_start prog "$program" PATH="$ZM_NET_DIR/bin:$PATH" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16:detect_leaks=0"
log="$ZM_NET_DIR/zumelko-prog.log"
check "the icon window appears" zm_wait_dialog prog 36 36 30 >/dev/null

pid=""
for ((i = 0; i < 50; i++)); do
  for p in $(ip netns pids "${ZM_NET_PREFIX}prog"); do
    [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$program" ] && pid=$p
  done
  [ -n "$pid" ] && break
  sleep 0.1
done
# Resident memory less what the program has handed back for the system to take when it needs it
# (large blocks it keeps for the next item, MADV_FREE).
rss_kib() { awk '/^Rss:/ { r = $2 } /^LazyFree:/ { l = $2 } END { if (r != "") print r - l }' "/proc/$pid/smaps_rollup" 2>/dev/null; }
fds() { ls "/proc/$pid/fd" 2>/dev/null | wc -l; }

# The program is up: its process runs, no box for an unexpected failure is on screen, and the
# sanitizers have said nothing.
alive() {
  kill -0 "$pid" 2>/dev/null || { echo "the program has ended" >&2; return 1; }
  if zm_x prog xdotool search --name '^Zumelko_beta3$' 2>/dev/null | grep -q .; then
    echo "an error box is on screen" >&2
    return 1
  fi
  if grep -qE 'AddressSanitizer|LeakSanitizer|runtime error:' "$log"; then
    cat "$log" >&2
    return 1
  fi
}

# Clicks at a point of a window (the dialogs' buttons stand where their forms put them).
click() { zm_x prog xdotool mousemove --window "$1" "$2" "$3" click 1; }
click_no() { click "$1" 176 160; }    # Form5's NO
click_link() { click "$1" 396 160; }  # Form5's リンク

# settle [yes|no [PID]] : answers whatever the attack left on screen: notices with OK,
# receive dialogs with NO (or the first with YES), until the peer PID has ended and nothing but
# the icon shows for a second. Prints how many notices and receive dialogs there were; any
# other window fails.
settle() {
  local answer=${1:-no} sender=${2:-} notices=0 offers=0 quiet=0 line id w h
  while ((quiet < 5)) || { [ -n "$sender" ] && kill -0 "$sender" 2>/dev/null; }; do
    line=$(zm_windows prog | awk '!($2 == 36 && $3 == 36)' | head -1)
    if [ -z "$line" ]; then
      quiet=$((quiet + 1))
      sleep 0.2
      continue
    fi
    quiet=0
    read -r id w h _ <<<"$line"
    case "${w}x${h}" in
      427x141)
        notices=$((notices + 1))
        zm_shot prog "$id" "notice-$case_name-$notices"
        zm_keys prog "$id" space
        ;;
      465x183)
        offers=$((offers + 1))
        if [ "$answer" = yes ]; then
          zm_keys prog "$id" space
          answer=no
        else
          click_no "$id"
        fi
        ;;
      *)
        echo "unexpected window: $line" >&2
        zm_shot prog "$id" "unexpected-$case_name"
        return 1
        ;;
    esac
    zm_wait_gone prog "$id" || return 1
  done
  echo "$notices $offers"
}

# good_text CASE : a good text from the peer is offered, YES takes it, and the clipboard holds
# exactly its bytes.
good_seq=0
good_text() {
  good_seq=$((good_seq + 1))
  local text="受信テスト $good_seq after $1: \"quoted\" ; \$(not run) <b>plain</b>" win got
  peer item "$addr" string alice PC-PEER "$text" >"$ZM_NET_DIR/good.out" 2>&1 &
  local sender=$!
  win=$(zm_wait_dialog prog 465 183 15) || { kill "$sender" 2>/dev/null; return 1; }
  zm_keys prog "$win" space
  zm_wait_gone prog "$win" || return 1
  wait "$sender" || { cat "$ZM_NET_DIR/good.out" >&2; return 1; }
  got=$(zm_x prog xclip -selection clipboard -o)
  [ "$got" = "$text" ] || { printf 'clipboard: %q\n' "$got" >&2; return 1; }
}

rss_back() {
  local i now
  for ((i = 0; i < 50; i++)); do
    now=$(rss_kib)
    [ -n "$now" ] && ((now <= rss_bound_kib)) && return 0
    sleep 0.1
  done
  echo "resident set ${now} KiB over the bound ${rss_bound_kib} KiB" >&2
  return 1
}

fds_back() {
  local i now
  for ((i = 0; i < 50; i++)); do
    now=$(fds)
    ((now <= fd_idle + fd_slack)) && return 0
    sleep 0.1
  done
  echo "$now files open, idle $fd_idle" >&2
  return 1
}

# after CASE : the checks every attack ends with.
after() {
  check "$1: the program is up" alive
  local rss
  rss=$(rss_kib)
  zm_say "$1: resident ${rss} KiB (idle ${rss_idle_kib} KiB, bound ${rss_bound_kib} KiB), $(fds) files open"
  check "$1: memory back under the bound" rss_back
  check "$1: open files back near idle" fds_back
  check "$1: a good text next is offered and imported" good_text "$1"
}

check "the program's process is found" [ -n "$pid" ]
case_name=warm-up
check "warm-up: a good text is offered and imported" good_text warm-up
sleep 1
rss_idle_kib=$(rss_kib)
rss_bound_kib=$((rss_idle_kib + rss_slack_mib * 1024))
fd_idle=$(fds)
zm_say "idle: resident ${rss_idle_kib} KiB, bound idle + ${rss_slack_mib} MiB, ${fd_idle} files open"

for port in 8000 8001; do
  case_name="flood-$port"
  zm_say "$case_name: $(peer flood "$addr" $port 1000)"
  check "$case_name: nothing left on screen but notices" settle >/dev/null
  after "$case_name"
done

case_name=drip
zm_say "drip: one byte a second on 8001 while a good text comes"
peer drip "$addr" 8001 5 >"$ZM_NET_DIR/drip.out" 2>&1 &
dripper=$!
sleep 1
check "drip: a good text is taken while the drip goes on" good_text drip-during
wait "$dripper"
zm_say "drip: $(cat "$ZM_NET_DIR/drip.out")"
after drip

for port in 8000 8001; do
  for value in 0x7FFFFFFF 0x80000000 0xFFFFFFFF 0x40000001; do
    case_name="length-$port-$value"
    zm_say "$case_name: $(peer length "$addr" $port $value)"
  done
  case_name="length-$port"
  check "$case_name: nothing left on screen but notices" settle >/dev/null
  after "$case_name"
done

for port in 8000 8001; do
  case_name="reset-$port"
  zm_say "$case_name: $(peer reset "$addr" $port $((64 << 20)) $((32 << 20)))"
  check "$case_name: nothing left on screen but notices" settle >/dev/null
  after "$case_name"
done

case_name=interleave
one="first sender's text ${RANDOM}"
two="second sender's text, longer: $(printf 'x%.0s' {1..3000})"
peer interleave "$addr" "$one" "$two" >"$ZM_NET_DIR/interleave.out" 2>&1 &
interleaver=$!
check "interleave: one of the two is offered" zm_wait_dialog prog 465 183 15 >/dev/null
seen=$(settle yes)
wait "$interleaver"
zm_say "interleave: $(cat "$ZM_NET_DIR/interleave.out"); notices and offers: $seen"
got=$(zm_x prog xclip -selection clipboard -o)
check "interleave: the text taken is one sender's, whole" [ "$got" = "$one" -o "$got" = "$two" ]
after interleave

case_name=bitmap
head -c 5000 /dev/urandom >"$ZM_NET_DIR/garbage.bmp"
# A file header and an information header claiming 100000 x 100000 pixels of 32 bits.
python3 -c 'import struct,sys; sys.stdout.buffer.write(b"BM" + struct.pack("<IHHI", 1000, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 100000, 100000, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(100))' \
  >"$ZM_NET_DIR/huge.bmp"
for f in garbage huge; do
  peer item "$addr" bitmap mallory PC-PEER "@$ZM_NET_DIR/$f.bmp" >"$ZM_NET_DIR/bitmap.out" 2>&1 &
  sender=$!
  seen=$(settle no "$sender")
  wait "$sender"
  zm_say "bitmap-$f: $(cat "$ZM_NET_DIR/bitmap.out"); notices and offers: $seen"
  check "bitmap-$f: refused, with no offer to import it" [ "${seen#* }" = 0 ]
done
after bitmap

case_name=markup
marked="<b>bold</b><img src=\"file:///etc/hostname\">"
peer item "$addr" string "<font size=7>BIG</font>" "<img src=\"file:///etc/hostname\">" "$marked" \
  >"$ZM_NET_DIR/markup.out" 2>&1 &
sender=$!
win=$(zm_wait_dialog prog 465 183 15)
check "markup: the text is offered" [ -n "$win" ]
[ -n "$win" ] && zm_shot prog "$win" receive-markup && zm_keys prog "$win" space && zm_wait_gone prog "$win"
wait "$sender"
got=$(zm_x prog xclip -selection clipboard -o)
check "markup: the clipboard holds the markup as text" [ "$got" = "$marked" ]
# Rendered as markup, an empty element would vanish and these two names would look the same.
offer_shot() {  # offer_shot MACHINE NAME : the receive dialog's picture for a text from MACHINE
  local sender win
  peer item "$addr" string alice "$1" "plain" >/dev/null 2>&1 &
  sender=$!
  win=$(zm_wait_dialog prog 465 183 15) || return 1
  zm_shot prog "$win" "$2"
  click_no "$win"
  zm_wait_gone prog "$win"
  wait "$sender"
}
offer_shot "<i></i>PC-PEER" names-with-markup && offer_shot "PC-PEER" names-without-markup
# Only the sender line: the buttons below show where the pointer was left.
for f in names-with-markup names-without-markup; do
  convert "$out/$f.png" -crop 465x40+0+0 +repage "$ZM_NET_DIR/$f-line.png"
done
differing=$(compare -metric AE "$ZM_NET_DIR/names-with-markup-line.png" "$ZM_NET_DIR/names-without-markup-line.png" null: 2>&1)
check "markup: names are shown as text, not read as markup (differing pixels: $differing)" \
  [ "${differing%% *}" != 0 ]
after markup

# The link button: offers TEXT, presses リンク and, when the browser choice comes, YES in it
# (the first browser, the one on PATH here). Prints "notice" when the notice showed, else
# "quiet"; "asked" is added when the browser choice was shown.
link() {
  local text=$1 name=$2 win choice notice sender result=quiet
  peer item "$addr" string mallory PC-PEER "$text" >/dev/null 2>&1 &
  sender=$!
  win=$(zm_wait_dialog prog 465 183 15) || return 1
  click_link "$win"
  if choice=$(zm_wait_dialog prog 397 178 2 2>/dev/null); then
    zm_keys prog "$choice" space
    zm_wait_gone prog "$choice"
    result=asked
  fi
  if notice=$(zm_wait_notice prog 3 2>/dev/null); then
    zm_shot prog "$notice" "link-$name"
    zm_keys prog "$notice" space
    zm_wait_gone prog "$notice"
    result=${result/quiet/}notice
  fi
  click_no "$win"
  zm_wait_gone prog "$win"
  wait "$sender"
  echo "$result"
}
link_refused() {
  [ "$(link "$1" "$2")" = notice ] && sleep 0.3 && [ ! -e "$browser_log" ]
}
case_name=link
n=0
for text in "-new-instance" "--headless" "-profile /tmp/x" "file:///etc/passwd" "javascript:alert(1)" \
  "smb://host/share" '$(reboot)' "/etc/passwd"; do
  n=$((n + 1))
  check "link '$text': the notice, no browser choice asked, no browser started" link_refused "$text" "refused-$n"
done
address="http://example.com/a?b=1#c"
check "link a web address: the browser choice, no notice" [ "$(link "  $address" good)" = asked ]
for ((i = 0; i < 25; i++)); do [ -s "$browser_log" ] && break; sleep 0.2; done
check "link a web address: the browser gets it as one argument after --" \
  [ "$(tr '\0' '\n' <"$browser_log" 2>/dev/null)" = "$(printf -- '--\n%s' "$address")" ]
after link

zm_say "pictures of the dialogs in $out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
