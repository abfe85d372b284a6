#!/usr/bin/env bash
# zumelko-send as scripts use it, on test hosts: to the program on its own desktop (a text
# file, words, a picture; the user takes each with YES and the X clipboard holds exactly what
# was sent), the exit code following the outcome (taken, no receiver, unknown host, a dead host
# within --timeout, missing file, no picture, too long a text) with messages naming the host,
# who may send (set in the settings dialog: host cli allowed by name, host out dropped without a
# dialog and logged), and --receive on another host taking texts (from standard input too) and
# pictures from zumelko-send and from a stranger whose names and text try to drive the
# terminal, writing pictures only to files of its own making, and output split by NULs; between
# two zumelko-sends items go encrypted with one check code at both ends, a team passphrase
# must match, and a receiver with --strict or a passphrase serves no plain port.
# Usage: send-cli.sh PATH/TO/zumelko PATH/TO/zumelko-send OUTPUT-DIR
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


zm_net_up prog cli rx out
# A machine that is gone: its address still has a link-layer entry on host cli, so what cli
# sends there vanishes without an answer, as on a LAN whose switch still knows the port.
dead=$ZM_NET_SUBNET.99
echo "$dead dead" >>"$ZM_NET_DIR/hosts"
ip -n "${ZM_NET_PREFIX}cli" neigh replace "$dead" lladdr 02:00:00:00:00:99 dev eth0 nud permanent
zm_desktop prog
zm_start prog "$program" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
check "the program starts" zm_wait_dialog prog 36 36 30 >/dev/null
d=$ZM_NET_DIR
cli() { zm_on cli timeout 30 "$send" "$@"; }

# sent_and_taken NAME args... : zumelko-send waits while the user decides; the receive dialog
# shows, YES takes the item into the clipboard, and only then does zumelko-send end, with 0.
sent_and_taken() {
  local name=$1 win rc
  shift
  cli "$@" 2>"$d/err" &
  local sender=$!
  win=$(zm_wait_dialog prog 465 183 15) || { kill "$sender"; return 1; }
  zm_shot prog "$win" "$name"
  sleep 0.3
  kill -0 "$sender" 2>/dev/null || { echo "zumelko-send ended before the user answered" >&2; return 1; }
  zm_keys prog "$win" space
  zm_wait_gone prog "$win"
  wait "$sender"
  rc=$?
  [ "$rc" -eq 0 ] || { echo "exit $rc: $(cat "$d/err")" >&2; return 1; }
}

printf '受信 "quoted" ; $(not run) <b>plain</b>\r\nsecond line\n\n\ttabbed end' >"$d/text.txt"
check "a text file is offered, taken, and then reported with 0" sent_and_taken text-file prog --file "$d/text.txt"
zm_x prog xclip -selection clipboard -o >"$d/got.txt"
check "the clipboard holds the file's bytes" cmp "$d/text.txt" "$d/got.txt"

check "words are offered, taken, and then reported with 0" \
  sent_and_taken words prog 'two  spaces' -- --not-an-option 日本語
check "the words arrive joined by single spaces" \
  [ "$(zm_x prog xclip -selection clipboard -o)" = "two  spaces --not-an-option 日本語" ]

zm_on cli convert -size 173x97 -seed 3 plasma:fractal -depth 8 "PNG24:$d/picture.png"
zm_on cli convert "$d/picture.png" -quality 100 "$d/picture.gif"
for f in picture.png picture.gif; do
  check "$f is offered, taken, and then reported with 0" sent_and_taken "image-$f" prog --image "$d/$f"
  zm_x prog xclip -selection clipboard -t image/png -o >"$d/got.png"
  diff=$(compare -metric AE "$d/$f" "$d/got.png" null: 2>&1)
  check "the clipboard holds $f's pixels (differing: $diff)" [ "$diff" = "0" ]
done

# exit_is CODE PATTERN args... : zumelko-send ends with CODE and says PATTERN on stderr.
exit_is() {
  local want=$1 pattern=$2 rc
  shift 2
  cli "$@" >"$d/err" 2>&1
  rc=$?
  [ "$rc" -eq "$want" ] && grep -qi -- "$pattern" "$d/err" || { echo "exit $rc: $(cat "$d/err")" >&2; return 1; }
}
truncate -s 512M "$d/huge.txt"
check "a missing file: exit 3" exit_is 3 "No such file" prog --file "$d/none.txt"
check "a file that is no picture: exit 3" exit_is 3 "cannot read the picture" prog --image "$d/text.txt"
check "a text over the receivers' ceiling: exit 3" exit_is 3 "too large" prog --file "$d/huge.txt"
check "a host that does not resolve: exit 1" exit_is 1 "cannot find the machine no-such-host" no-such-host --file "$d/text.txt"
start=$(date +%s)
check "a dead host: exit 1 within --timeout 2" exit_is 1 "could not connect to dead port 8000 within 2 seconds" \
  --timeout 2 dead 'anyone there?'
check "... and no later than a second after it ($(($(date +%s) - start)) s)" [ $(($(date +%s) - start)) -le 3 ]
check "a wrong --timeout: exit 2" exit_is 2 "--timeout takes" --timeout soon prog x
check "--version names the version" exit_is 0 "^zumelko-send [0-9]" --version
check "no command: exit 2" exit_is 2 "no host" 
check "--help explains the exit codes" exit_is 0 "Exit status" --help
check "nothing was offered by the refused sends" zm_no_dialog prog 1
# allow_only NAMES : the user turns "who may send" on in the settings dialog and adds NAMES.
allow_only() {
  local win chooser
  zm_menu prog 3 c
  win=$(zm_wait_dialog prog 417 587) || return 1
  # From OK past Cancel, both groups and About (the details buttons are disabled) to the
  # senders group; its second item enables its details button, the next tab stop.
  zm_keys prog "$win" Tab Tab Tab Tab Tab Down Tab space
  chooser=$(zm_wait_dialog prog 427 123) || return 1
  zm_keys prog "$chooser" Tab Tab ctrl+a BackSpace
  zm_type prog "$chooser" "$1"
  zm_shot prog "$chooser" allowed-names
  zm_keys prog "$chooser" shift+Tab shift+Tab space
  zm_wait_gone prog "$chooser"
  zm_shot prog "$win" settings-senders
  # From the next group, Enter presses OK.
  zm_keys prog "$win" Tab Return
  zm_wait_gone prog "$win"
}
check "the user allows only host cli" allow_only "rx cli"
check "host cli may still send" sent_and_taken allowed prog 'from a friend'
check "the allowed text arrives" [ "$(zm_x prog xclip -selection clipboard -o)" = "from a friend" ]
zm_on out timeout 30 "$send" prog 'from outside' >/dev/null 2>"$d/out.err"
zm_say "the stranger's zumelko-send ended with $?: $(cat "$d/out.err")"
check "the stranger's item shows no dialog" zm_no_dialog prog 2
check "the clipboard still holds the allowed text" [ "$(zm_x prog xclip -selection clipboard -o)" = "from a friend" ]
check "the log names the stranger's address" grep -q "from $(zm_net_addr out), which may not send" "$d/zumelko-prog.log"
check "host cli may send after the stranger" sent_and_taken allowed-after prog 'again'

for p in $(ip netns pids "${ZM_NET_PREFIX}prog"); do
  [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$program" ] && kill "$p"
done
wait "${ZM_PID[prog]}" 2>/dev/null
check "no receiver: exit 1" exit_is 1 "nothing answers on prog port 8000: Zumelko is not running there" prog 'anyone there?'
check "the program logged no sanitizer report" \
  bash -c "! grep -qE 'AddressSanitizer|LeakSanitizer|runtime error:' '$d/zumelko-prog.log'"

# The receiving side, on host rx.
zm_on rx timeout 30 "$send" --receive --dir "$d" >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
sleep 1
cli rx <"$d/text.txt" 2>"$d/err"
check "--receive takes a text from zumelko-send's standard input (exit $?)" [ $? -eq 0 ]
wait "$rx"
check "--receive ends after one item with exit 0 (exit $?)" [ $? -eq 0 ]
check "--receive prints the text's bytes" cmp "$d/text.txt" "$d/rx.out"

# The encrypted channel between two zumelko-sends, one row a case: the receiver's options
# (PHRASE is a file holding the team's passphrase), the sender (zumelko-send with no
# passphrase, the same one from the environment, another one, or a classic peer's plain item)
# and its options, the sender's exit code and what it says, and what the receiver says of the
# item ("-": nothing, and it goes on waiting). A refused item leaves the receiver running: an
# item its own channel takes follows, and ends it. A receiver that takes nothing plain listens
# on 8002 alone.
printf 'チームの合言葉 %s\n' "$$" >"$d/phrase"
chmod 600 "$d/phrase"  # a passphrase file others may read is refused
team_phrase=$(head -1 "$d/phrase")
secret=$'encrypted\t日本語 $(not run) \e[31m'
rx_listening() {
  local i
  for ((i = 0; i < 50; i++)); do
    [ -n "$(zm_on rx ss -Hltn)" ] && return 0
    sleep 0.1
  done
  return 1
}
# send_as WHO ARGS... : sends from host cli as WHO ("none", "team", "other" or "plain").
send_as() {
  local who=$1
  shift
  case $who in
    none) cli "$@" ;;
    team) zm_on cli env ZUMELKO_PASSPHRASE="$team_phrase" timeout 30 "$send" "$@" ;;
    other) zm_on cli env ZUMELKO_PASSPHRASE="not $team_phrase" timeout 30 "$send" "$@" ;;
    plain) zm_on cli timeout 30 python3 "$here/hostile-peer.py" item "$(zm_net_addr rx)" string u cli "${@: -1}" ;;
  esac
}
code_of() { sed -n 's/.*; check code \([0-9]\{4\} [0-9]\{4\} [0-9]\{4\}\)$/\1/p' "$1"; }
secure_case() {
  local rxopts=$1 who=$2 txopts=$3 want=$4 says=$5 heard=$6 rc listens
  # shellcheck disable=SC2086  # the options are words
  zm_on rx timeout 30 "$send" --receive ${rxopts//PHRASE/$d/phrase} >"$d/rx.out" 2>"$d/rx.err" &
  rx=$!
  rx_listening || { echo "the receiver does not listen" >&2; return 1; }
  listens=$(zm_on rx ss -Hltn | awk '{ sub(/.*:/, "", $4); print $4 }' | sort | tr '\n' ' ')
  # shellcheck disable=SC2086
  send_as "$who" $txopts rx "$secret" >"$d/tx.err" 2>&1
  rc=$?
  local ok=0
  [ "$rc" -eq "$want" ] && grep -q -- "$says" "$d/tx.err" || { echo "sender: exit $rc: $(cat "$d/tx.err")" >&2; ok=1; }
  if [ "$heard" = - ]; then
    # Nothing came through; the receiver still takes what its own channel brings.
    [ -s "$d/rx.out" ] && { echo "the receiver printed $(cat -v "$d/rx.out")" >&2; ok=1; }
    [[ "$rxopts" == *PHRASE* ]] && who=team || who=none
    send_as "$who" rx 'after the refusal' >"$d/tx.err" 2>&1 || { echo "then: $(cat "$d/tx.err")" >&2; ok=1; }
    wait "$rx" || { echo "the receiver ended with $?: $(cat "$d/rx.err")" >&2; ok=1; }
    [ "$(cat "$d/rx.out")" = 'after the refusal' ] || { echo "then the receiver printed $(cat -v "$d/rx.out")" >&2; ok=1; }
  else
    wait "$rx" || { echo "the receiver ended with $?: $(cat "$d/rx.err")" >&2; ok=1; }
    cmp -s "$d/rx.out" <(printf '%s' "$secret") || { echo "the receiver printed $(cat -v "$d/rx.out")" >&2; ok=1; }
    grep -q -- "$heard" "$d/rx.err" || { echo "the receiver said: $(cat "$d/rx.err")" >&2; ok=1; }
    local sent received
    sent=$(code_of "$d/tx.err")
    received=$(code_of "$d/rx.err")
    [ -n "$sent" ] && [ "$sent" = "$received" ] || { echo "check codes \"$sent\" / \"$received\"" >&2; ok=1; }
  fi
  zm_say "the receiver listened on: $listens"
  [[ "$rxopts" == *--strict* || "$rxopts" == *PHRASE* ]] && [ "$listens" != "8002 " ] && {
    echo "a receiver that takes nothing plain listened on $listens" >&2
    ok=1
  }
  return $ok
}
while IFS='|' read -r what rxopts who txopts want says heard; do
  check "zumelko-send to zumelko-send --receive: $what" secure_case "$rxopts" "$who" "$txopts" "$want" "$says" "$heard"
done <<'CASES'
encrypted, one check code at both ends||none||0|sent encrypted; check code|encrypted; check code
a shared passphrase, one from a file and one from the environment|--passphrase-file PHRASE|team||0|sent encrypted to a holder of the passphrase; check code|encrypted by a holder of the passphrase; check code
differing passphrases: refused, exit 1|--passphrase-file PHRASE|other||1|the team passphrases differ|-
no passphrase to a receiver with one: refused, exit 1|--passphrase-file PHRASE|none||1|TLS handshake failed|-
a classic peer's plain item to a receiver with a passphrase: nothing listens|--passphrase-file PHRASE|plain||1|Connection refused|-
a classic peer's plain item to a --strict receiver: nothing listens|--strict|plain||1|Connection refused|-
--port-offset moves the encrypted port too|--port-offset 7|none|--port-offset 7|0|sent encrypted; check code|encrypted; check code
--secret marks the item, and --receive says so||none|--secret|0|sent encrypted; check code|the item is marked as a password
CASES

# Links planted in the folder under every name zumelko-send might choose next, to a file that
# is not there yet (a name that seems free) and to one that is: none is followed.
printf 'keep me' >"$d/victim"
now=$(date +%s)
for t in $(seq $((now - 1)) $((now + 30))); do
  ln -s "$d/victim-made" "$d/zumelko-$t-1.bmp"
  ln -s "$d/victim" "$d/zumelko-$t-2.bmp"
done
zm_on rx "$send" --receive --forever --dir "$d" >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
sleep 1
cli rx --image "$d/picture.png" 2>"$d/err"
check "--receive --forever takes a picture (exit $?)" [ $? -eq 0 ]
zm_on cli timeout 30 python3 "$here/hostile-peer.py" item "$(zm_net_addr rx)" string \
  $'\e]2;owned\a\e[31m' $'PC\bX' 'from a stranger' >/dev/null 2>&1
check "--receive --forever goes on after the picture" kill -0 "$rx"
sleep 0.5
kill "$rx"
wait "$rx" 2>/dev/null
bmp=$(head -1 "$d/rx.out")
check "the picture went to a new file in the folder" [ -f "$bmp" ] && [ ! -L "$bmp" ] && [ "$(dirname "$bmp")" = "$d" ]
check "no planted link was followed" [ ! -e "$d/victim-made" ] && [ "$(cat "$d/victim")" = "keep me" ]
rm -f "$d"/zumelko-*-[12].bmp
diff=$(compare -metric AE "$d/picture.png" "$bmp" null: 2>&1)
check "the file holds the picture's pixels (differing: $diff)" [ "$diff" = "0" ]
check "the stranger's text follows" grep -qx 'from a stranger' "$d/rx.out"
check "the stranger's names reach the terminal escaped" \
  grep -qF 'from "\x1b]2;owned\x07\x1b[31m" on "PC\x08X"' "$d/rx.err"
check "no control character reaches stderr" bash -c "! LC_ALL=C grep -q \$'[\x01-\x08\x0b-\x1f]' '$d/rx.err'"

# Ends what runs on host rx: $rx is only the shell that started it there.
stop_rx() {
  local p
  for p in $(ip netns pids "${ZM_NET_PREFIX}rx"); do kill "$p" 2>/dev/null; done
  for _ in $(seq 50); do [ -z "$(ip netns pids "${ZM_NET_PREFIX}rx")" ] && break; sleep 0.1; done
  wait "$rx" 2>/dev/null
}
stop_rx

# A stranger on the encrypted channel, with a key of its own: names that try to drive the
# terminal, a text announced over the ceiling, a broken picture. They meet the bounds and
# refusals of the plain channel, each line ending with its check code; then an item is taken.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=stranger \
  -keyout "$d/stranger.key" -out "$d/stranger.pem" >/dev/null 2>&1
cat >"$d/tls-items.py" <<'PY'
import socket, ssl, struct, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
ctx.minimum_version = ssl.TLSVersion.TLSv1_3
ctx.check_hostname, ctx.verify_mode = False, ssl.CERT_NONE
ctx.load_cert_chain(sys.argv[1], sys.argv[2])
items = [(b"string\r\n\x1b]2;owned\x07\r\nPC\x08X\r\n", None, b"over TLS\0"),
         (b"string\r\nu\r\nm\r\n", 512 * 1024 * 1024 + 1, b"x" * 1000),
         (b"bitmap\r\nu\r\nm\r\n", None, b"BM" + b"\xff" * 60)]
for header, length, data in items:
    s = ctx.wrap_socket(socket.create_connection((sys.argv[3], 8002), timeout=10), suppress_ragged_eofs=False)
    s.sendall(struct.pack("<I", len(header)) + header + struct.pack("<I", length or len(data)) + data)
    try:
        while s.recv(65536):
            pass
        print("closed")
    except OSError as e:
        print("cut:%s" % type(e).__name__)
PY
zm_on rx "$send" --receive --forever >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
rx_listening
zm_on cli timeout 30 python3 "$d/tls-items.py" "$d/stranger.pem" "$d/stranger.key" "$(zm_net_addr rx)" >"$d/tls.out" 2>&1
cli rx 'after the stranger' 2>"$d/err"
sleep 0.5
stop_rx
zm_say "the stranger's connections: $(tr '\n' ' ' <"$d/tls.out")"
code='; check code [0-9]{4} [0-9]{4} [0-9]{4}$'
check "encrypted: the stranger's names reach stderr escaped, the check code ending the line" \
  grep -qE 'text of 8 bytes from "\\x1b]2;owned\\x07" on "PC\\x08X", encrypted'"$code" "$d/rx.err"
check "encrypted: a text announced over 512 MiB is refused, its connection cut without an orderly end" \
  bash -c "grep -qE 'refused a text of 536870913 bytes, encrypted$code' '$d/rx.err' && sed -n 2p '$d/tls.out' | grep -q ^cut:"
check "encrypted: a broken picture is dropped" grep -qE "dropped a broken picture .* from \"u\" on \"m\", encrypted$code" "$d/rx.err"
check "encrypted: only the good texts reach standard output" cmp "$d/rx.out" <(printf 'over TLS\nafter the stranger\n')
check "encrypted: no control character reaches stderr" bash -c "! LC_ALL=C grep -q \$'[\x01-\x08\x0b-\x1f]' '$d/rx.err'"

# A text that tries to drive the terminal: on a terminal its controls are shown escaped (line
# breaks and tabs kept), into a file its bytes arrive as they were sent.
evil=$'title\e]2;owned\a red\e[31m C1\xc2\x9b2J\r\n\tnext'
zm_on rx timeout 30 python3 -c '
import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
out = b""
while True:
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
os.waitpid(pid, 0)
sys.stdout.buffer.write(out)' "$send" --receive >"$d/tty.out" 2>/dev/null &
rx=$!
sleep 1
cli rx "$evil" 2>"$d/err"
wait "$rx"
check "on a terminal no escape reaches it" bash -c "! LC_ALL=C grep -q \$'[\x1b\x07]\\|\xc2\x9b' '$d/tty.out'"
check "on a terminal the controls show as \\xNN, line breaks and tabs kept" \
  grep -qF 'title\x1b]2;owned\x07 red\x1b[31m C1\x9b2J' "$d/tty.out"
check "... and the tab of the next line is kept" bash -c "grep -qP '^\tnext' '$d/tty.out'"
zm_on rx timeout 30 "$send" --receive >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
sleep 1
cli rx - <<<"$evil" 2>"$d/err"
wait "$rx"
check "into a file the text's bytes arrive unchanged (\"-\" reads standard input)" cmp "$d/rx.out" <(printf '%s\n' "$evil")

# For scripts: -0 ends every item with a NUL; --pictures-to keeps the pictures' names apart.
zm_on rx "$send" --receive --forever -0 --dir "$d" --pictures-to "$d/pictures" >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
sleep 1
cli rx $'two\nlines' 2>"$d/err"
cli rx --image "$d/picture.png" 2>>"$d/err"
cli rx 'third' 2>>"$d/err"
sleep 0.5
stop_rx
check "-0: the texts, each ended by a NUL, and nothing else" cmp "$d/rx.out" <(printf 'two\nlines\0third\0')
check "the picture came encrypted, its check code on its line" grep -q "picture 173x97 .*, encrypted; check code" "$d/rx.err"
pic=$(tr -d '\0' <"$d/pictures")
check "--pictures-to: the picture's name, ended by a NUL" \
  bash -c '[ "$(tail -c1 "$1" | od -An -tx1 | tr -d " ")" = 00 ] && [ -f "$2" ]' _ "$d/pictures" "$pic"

# Japanese between zumelko-send and Windows peers: code page 932 on the wire both ways, UTF-8
# on the terminal. A header of three lines is read in 932 even where its bytes would also be
# UTF-8 (ﾊｲ, CA B2); a text 932 holds only in a close form goes as that form, then exactly.
zm_on rx "$send" --receive --forever --dir "$d" >"$d/rx.out" 2>"$d/rx.err" &
rx=$!
sleep 1
zm_on cli timeout 30 python3 "$here/hostile-peer.py" item "$(zm_net_addr rx)" string \
  $'\x83\x86\x81\x5b\x83\x55\x81\x5b' $'\x83\x7d\x83\x56\x83\x93\xca\xb2' $'\x93\xfa\x96\x7b\x8c\xea\xb1\xca\xb2' >/dev/null 2>&1
sleep 0.5
stop_rx
check "--receive prints a code page 932 text as UTF-8" cmp "$d/rx.out" <(printf '日本語ｱﾊｲ\n')
check "--receive shows code page 932 names as UTF-8" grep -qF 'from "ユーザー" on "マシンﾊｲ"' "$d/rx.err"
# A plain listener on rx keeps the packets' bytes as they came, as a classic peer reads them.
plain_listener() {
  zm_on rx timeout 30 python3 -c '
import socket, struct, sys
def serve(port):
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", port)); s.listen(1); return s
head, data = serve(8000), serve(8001)
for listener, out in ((head, sys.argv[1]), (data, sys.argv[2])):
    c, _ = listener.accept(); got = b""
    while len(got) < 4 or len(got) < 4 + struct.unpack("<I", got[:4])[0]:
        more = c.recv(65536)
        if not more: break
        got += more
    c.close()
    open(out, "wb").write(got[4:])' "$1" "$2" &
  listener=$!
  sleep 1
}
plain_listener "$d/head.bin" "$d/wire.bin"
cli rx 日本語 ①髙 2>"$d/err"
wait "$listener"
check "zumelko-send sends Japanese in code page 932" \
  cmp "$d/wire.bin" <(printf '\x93\xfa\x96\x7b\x8c\xea \x87\x40\xfb\xfc\0')
check "the header's first three lines are a classic peer's, the fourth names 932" \
  python3 -c 'import sys; l = open(sys.argv[1], "rb").read().split(b"\r\n"); sys.exit(not (l[0] == b"string" and all(l[1:3]) and l[3] == b"zumelko-text cp932"))' "$d/head.bin"
plain_listener "$d/head.bin" "$d/wire.bin"
cli rx '¥1,000' 'ﾊｲ' 2>"$d/err"
wait "$listener"
check "zumelko-send sends the yen sign as 932's close form, then exactly" \
  cmp "$d/wire.bin" <(printf '\\1,000 \xca\xb2\0¥1,000 ﾊｲ\0')

zm_say "passed $passed, failed $failed"
[ "$failed" -eq 0 ]
