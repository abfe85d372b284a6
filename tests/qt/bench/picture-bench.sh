#!/usr/bin/env bash
# A large picture between two desktops on two test hosts: the time from the user's send on
# host A to host B's dialog showing the picture, against a plain socket copy of the same BMP
# bytes between the same hosts in the same run; and each side's peak memory per picture byte
# (the rise of the resident set's peak over what it was before, divided by the BMP's size).
# A JSON line per round goes to standard error, for the record.
# Usage: [ZM_PICTURE_PLAIN=1] picture-bench.sh PATH/TO/zumelko [WIDTH HEIGHT [ROUNDS]]
set -uo pipefail
program=$(readlink -f "$1")
width=${2:-3840}
height=${3:-2160}
rounds=${4:-3}
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "needs root and ip netns for the test hosts"
  exit 77
fi
here=$(dirname "$(readlink -f "$0")")
. "$here/../net/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SCREEN_W=1280 ZM_SCREEN_H=1024
bmp_bytes=$((54 + ((width * 24 + 31) / 32 * 4) * height))

zm_net_up hosta hostb
# ZM_PICTURE_PLAIN=1: host B refuses the encrypted port, so the picture crosses the plain
# channels, for what the encryption adds to a round.
if [ "${ZM_PICTURE_PLAIN:-}" = 1 ]; then
  zm_on hostb nft -f - <<'NFT'
table inet picture_plain {
  chain input { type filter hook input priority 0; tcp dport 8002 reject with tcp reset; }
}
NFT
fi
zm_desktop hosta
zm_desktop hostb
zm_x hosta convert -size "${width}x${height}" -seed 3 plasma:fractal -depth 8 "PNG24:$ZM_NET_DIR/big.png"
# The loop's longest pause while host A reads the picture ahead from another program, before the
# programs start (when the benchmark was built beside the program).
ahead_bench=$(dirname "$program")/tests/bench/read_ahead_bench
if [ -x "$ahead_bench" ]; then
  zm_x hosta "$ahead_bench" "$ZM_NET_DIR/big.png" "$rounds"
fi
# Now and then a program here cannot reach its host's display at first: it is started again.
start_on() {
  local i
  for i in 1 2 3; do
    zm_start "$1" "$program"
    sleep 1
    kill -0 "${ZM_PID[$1]}" 2>/dev/null && return 0
    echo "the program on $1 did not start:" >&2
    cat "$ZM_NET_DIR/zumelko-$1.log" >&2
  done
  return 1
}
start_on hosta
start_on hostb
zm_wait_dialog hosta 36 36 >/dev/null && zm_wait_dialog hostb 36 36 >/dev/null

# hosta copies the picture while its checker is still off (as the program starts), so nothing
# is sent yet; then the settings: send to the default destination hostb. The rounds send with
# "デフォルトへ転送", which needs no announcement. The first round is the program's first picture
# of the run: its memory figures are the ones that count (later rounds reuse what the
# allocator kept from the first).
zm_x hosta xclip -selection clipboard -t image/png -i "$ZM_NET_DIR/big.png"
zm_menu hosta 3 c
win=$(zm_wait_dialog hosta 417 587)
zm_keys hosta "$win" Tab Tab Up Tab Tab Tab space
chooser=$(zm_wait_dialog hosta 427 123)
zm_keys hosta "$chooser" Tab Tab
zm_type hosta "$chooser" hostb
zm_keys hosta "$chooser" shift+Tab shift+Tab space
zm_wait_gone hosta "$chooser"
zm_keys hosta "$win" Tab Return
zm_wait_gone hosta "$win"

pid_of() {  # the program's own process on a host (the one whose parent is the host's wrapper)
  pgrep -f "^$program\$" | while read -r p; do
    [ "$(readlink "/proc/$p/ns/net")" = "$(ip netns exec "${ZM_NET_PREFIX}$1" readlink /proc/self/ns/net)" ] && echo "$p"
  done | head -1
}
pa=$(pid_of hosta)
pb=$(pid_of hostb)
rss() { awk '/^VmRSS/ { print $2 * 1024 }' "/proc/$1/status"; }
hwm() { awk '/^VmHWM/ { print $2 * 1024 }' "/proc/$1/status"; }

# The plain copy: the same number of bytes over one TCP connection, closed by the receiver
# once it has read them all, as the program's packets are.
cat >"$ZM_NET_DIR/plain.py" <<'PY'
import socket, sys, time
mode, addr, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
if mode == "recv":
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, 9000)); s.listen(1)
    c, _ = s.accept(); got = 0
    while got < size:
        b = c.recv(1 << 20)
        if not b: break
        got += len(b)
    c.close()
else:
    data = bytes(size)
    t0 = time.monotonic()
    c = socket.create_connection((addr, 9000)); c.sendall(data); c.shutdown(socket.SHUT_WR)
    while c.recv(65536): pass
    print("%.4f" % (time.monotonic() - t0))
PY
addr_b=$(zm_net_addr hostb)

# The time a window named Zumelko is next mapped on this display (without a window manager,
# the program's windows are the root's children), read from the X server's notices.
cat >"$ZM_NET_DIR/mapped.sh" <<'SH'
coproc events { exec xev -root -event substructure; }
trap 'kill "$events_PID" 2>/dev/null' EXIT
while IFS= read -r line <&"${events[0]}"; do
  [[ $line == MapNotify* ]] || continue
  t=$EPOCHREALTIME
  IFS= read -r line <&"${events[0]}"
  w=${line#*window }
  w=${w%%,*}
  if [ "$(xdotool getwindowname "$w" 2>/dev/null)" = Zumelko ]; then
    echo "$t"
    exit 0
  fi
done
exit 1
SH

echo "picture ${width}x${height}: $bmp_bytes bytes as a 24-bit BMP"
printf '%-6s %12s %12s %8s %14s %14s\n' round "picture s" "plain s" ratio "A bytes/byte" "B bytes/byte"
for ((r = 1; r <= rounds; r++)); do
  zm_on hostb timeout 60 python3 "$ZM_NET_DIR/plain.py" recv "$addr_b" "$bmp_bytes" &
  receiver=$!
  sleep 0.3
  plain=$(zm_on hosta timeout 60 python3 "$ZM_NET_DIR/plain.py" send "$addr_b" "$bmp_bytes")
  wait "$receiver"

  base_a=$(rss "$pa"); base_b=$(rss "$pb")
  echo 5 >"/proc/$pa/clear_refs"; echo 5 >"/proc/$pb/clear_refs"
  # The user sends the clipboard to the default destination; the clock runs until hostb's
  # dialog is on screen.
  zm_x hostb timeout 60 bash "$ZM_NET_DIR/mapped.sh" >"$ZM_NET_DIR/t1" &
  watcher=$!
  zm_tray hosta 3
  sleep 0.5
  # The clock is read on the hosts themselves: on A once xdotool is connected, just before it
  # presses the key; on B as the X server reports the dialog mapped. Neither side polls, so
  # nothing but the two programs and their displays uses the processors while the clock runs.
  t0=$(zm_x hosta xdotool exec --sync --args 2 date +%s.%N key t | head -1)
  wait "$watcher"
  t1=$(cat "$ZM_NET_DIR/t1")
  d=$(zm_wait_dialog hostb 465 183)
  zm_keys hostb "$d" space  # YES: the picture goes into hostb's clipboard
  zm_wait_gone hostb "$d"
  n=$(zm_wait_notice hosta 60)
  peak_a=$(hwm "$pa"); peak_b=$(hwm "$pb")
  zm_keys hosta "$n" space
  zm_wait_gone hosta "$n"
  awk -v r="$r" -v t0="$t0" -v t1="$t1" -v plain="$plain" -v pa="$peak_a" -v ba="$base_a" -v pb="$peak_b" \
    -v bb="$base_b" -v n="$bmp_bytes" -v w="$width" -v h="$height" 'BEGIN {
      printf "%-6s %12.3f %12.3f %8.1f %14.2f %14.2f\n", r, t1 - t0, plain, (t1 - t0) / plain, (pa - ba) / n, (pb - bb) / n
      printf "{\"bench\":\"picture\",\"width\":%d,\"height\":%d,\"round\":%d,\"picture_s\":%.4f,\"plain_s\":%.4f,\"ratio\":%.2f,\"sender_peak_per_byte\":%.3f,\"receiver_peak_per_byte\":%.3f}\n", w, h, r, t1 - t0, plain, (t1 - t0) / plain, (pa - ba) / n, (pb - bb) / n >"/dev/stderr" }'
done
zm_x hostb xclip -selection clipboard -t image/png -o >"$ZM_NET_DIR/back.png"
echo "pixels differing after the round: $(compare -metric AE "$ZM_NET_DIR/big.png" "$ZM_NET_DIR/back.png" null: 2>&1)"
