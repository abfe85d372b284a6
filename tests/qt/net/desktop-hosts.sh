# Two (or more) complete desktops on test hosts: each host gets its own Xvfb display and runs
# the program there; the user is played with xdotool and xclip on that display. Used by the
# end-to-end test, the benchmark and the demonstration.
# shellcheck shell=bash

. "$(dirname "${BASH_SOURCE[0]}")/hosts.sh"

ZM_SCREEN_W=${ZM_SCREEN_W:-1024}
ZM_SCREEN_H=${ZM_SCREEN_H:-768}
declare -A ZM_DISPLAY ZM_PID

zm_say() { printf '[%s] %s\n' "$(date +%T)" "$*"; }

# check DESCRIPTION command... : runs one check of a test script and counts it in passed or failed.
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    zm_say "ok: $what"
  else
    failed=$((failed + 1))
    zm_say "FAILED: $what"
  fi
}

# zm_desktop HOST : an X display of its own on the host.
zm_desktop() {
  local host=$1 fifo="$ZM_NET_DIR/display-$1" number="" try pid p
  # A server that has not said its display's number within 20 s, or whose display then does
  # not answer a client on the host, is stopped and started again: on a loaded machine with
  # several tests starting displays at once, both have been seen (the program then fails with
  # "could not connect to display").
  for try in 1 2 3; do
    rm -f "$fifo"
    mkfifo "$fifo"
    zm_on "$host" Xvfb -displayfd 3 -screen 0 "${ZM_SCREEN_W}x${ZM_SCREEN_H}x24" -nolisten tcp \
      3>"$fifo" 2>"$ZM_NET_DIR/xvfb-$host.log" &
    pid=$!
    read -r -t 20 number <"$fifo" && [ -n "$number" ] &&
      zm_on "$host" env DISPLAY=":$number" timeout -k 2 10 xdotool getdisplaygeometry >/dev/null 2>&1 && break
    echo "Xvfb on $host did not start or does not answer on :$number (try $try of 3):" >&2
    number=""
    cat "$ZM_NET_DIR/xvfb-$host.log" >&2
    for p in $(ip netns pids "${ZM_NET_PREFIX}${host}" 2>/dev/null); do
      [ "$(cat "/proc/$p/comm" 2>/dev/null)" = Xvfb ] && kill -9 "$p" 2>/dev/null
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  [ -n "$number" ] || return 1
  ZM_DISPLAY[$host]=":$number"
  mkdir -p -m 700 "$ZM_NET_DIR/home-$host"
}

# zm_x HOST command... : a command on the host's display, as its user (never on the Wayland
# session the test may have been started from).
zm_x() {
  local host=$1
  shift
  zm_on "$host" env -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE DISPLAY="${ZM_DISPLAY[$host]}" HOME="$ZM_NET_DIR/home-$host" \
    XDG_RUNTIME_DIR="$ZM_NET_DIR/home-$host" "$@"
}

# zm_start HOST PROGRAM [env...] : the program on the host's desktop (its output in a log).
zm_start() {
  local host=$1 program=$2
  shift 2
  zm_x "$host" env "$@" "$program" >"$ZM_NET_DIR/zumelko-$host.log" 2>&1 &
  ZM_PID[$host]=$!
}

# The program's visible windows: "id width height name" per line.
# Each look is bounded, so that a display that stops answering fails the check instead of
# hanging the test.
zm_windows() {
  local host=$1 id
  for id in $(zm_x "$host" timeout -k 2 10 xdotool search --onlyvisible --name '.' 2>/dev/null); do
    local geo name
    geo=$(zm_x "$host" timeout -k 2 10 xdotool getwindowgeometry --shell "$id" 2>/dev/null | tr '\n' ' ')
    name=$(zm_x "$host" timeout -k 2 10 xdotool getwindowname "$id" 2>/dev/null)
    local w h
    w=$(sed -n 's/.*WIDTH=\([0-9]*\).*/\1/p' <<<"$geo")
    h=$(sed -n 's/.*HEIGHT=\([0-9]*\).*/\1/p' <<<"$geo")
    echo "$id $w $h $name"
  done
}

# zm_wait_dialog HOST WIDTH HEIGHT [SECONDS] : the id of a dialog of that client size on screen.
zm_wait_dialog() {
  local host=$1 w=$2 h=$3 limit=${4:-20} i
  for ((i = 0; i < limit * 5; i++)); do
    local id
    id=$(zm_windows "$host" | awk -v w="$w" -v h="$h" '$2 == w && $3 == h { print $1; exit }')
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  echo "no dialog of ${w}x${h} on $host; windows:" >&2
  zm_windows "$host" >&2
  return 1
}

# zm_no_dialog HOST SECONDS : true when nothing but the icon window shows up for that long.
zm_no_dialog() {
  local host=$1 seconds=$2 i
  for ((i = 0; i < seconds * 5; i++)); do
    if zm_windows "$host" | awk '!($2 == 36 && $3 == 36)' | grep -q .; then
      zm_windows "$host" >&2
      return 1
    fi
    sleep 0.2
  done
  return 0
}

zm_wait_gone() {
  local host=$1 id=$2 i
  for ((i = 0; i < 50; i++)); do
    zm_x "$host" xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$id" || return 0
    sleep 0.1
  done
  return 1
}

# zm_keys HOST WINDOW key... : keys pressed in a window (focused first, as there is no window
# manager to do it).
zm_keys() {
  local host=$1 win=$2
  shift 2
  zm_x "$host" xdotool windowfocus --sync "$win" sleep 0.1 key --delay 80 "$@"
}

zm_type() {
  local host=$1 win=$2
  shift 2
  zm_x "$host" xdotool windowfocus --sync "$win" type --delay 50 "$@"
}

# zm_shot HOST WINDOW NAME : a picture of a window into $ZM_SHOTS/NAME.png.
zm_shot() {
  mkdir -p "$ZM_SHOTS"
  zm_x "$1" import -window "$2" "$ZM_SHOTS/$3.png"
}

# zm_tray HOST BUTTON : a click on the icon window (bottom right of the screen).
zm_tray() {
  local host=$1 button=$2
  zm_x "$host" xdotool mousemove --sync 0 0 mousemove --sync $((ZM_SCREEN_W - 22)) $((ZM_SCREEN_H - 22)) \
    click "$button"
  sleep 0.5
}

# zm_menu HOST BUTTON KEY : opens a tray menu and picks an item by its accelerator, once the
# menu is on screen (the program may still be busy, for instance browsing the network).
zm_menu() {
  local host=$1 before i
  before=$(zm_x "$host" xdotool search --onlyvisible --classname zumelko 2>/dev/null | sort)
  zm_tray "$host" "$2"
  for ((i = 0; i < 100; i++)); do
    if [ "$(zm_x "$host" xdotool search --onlyvisible --classname zumelko 2>/dev/null | sort)" != "$before" ]; then
      sleep 0.2
      zm_x "$host" xdotool key "$3"
      return 0
    fi
    sleep 0.1
  done
  echo "no menu opened on $host" >&2
  return 1
}

zm_alive() { kill -0 "${ZM_PID[$1]}" 2>/dev/null; }

# settings HOST CHECKER RECEIVE [DESTINATION] : the settings dialog as the user fills it in,
# starting from the values it shows (the program starts with 2 and 0).
declare -A checker_now receive_now
settings() {
  local host=$1 checker=$2 receive=$3 dest=${4:-} win moves key
  zm_menu "$host" 3 c
  win=$(zm_wait_dialog "$host" 417 587) || return 1
  local c=${checker_now[$host]:-2} r=${receive_now[$host]:-0}
  # OK has the focus; two tabs reach the selected item of the checker group.
  keys=(Tab Tab)
  for ((moves = c; moves > checker; moves--)); do keys+=(Up); done
  for ((moves = c; moves < checker; moves++)); do keys+=(Down); done
  keys+=(Tab)
  for ((moves = r; moves > receive; moves--)); do keys+=(Up); done
  for ((moves = r; moves < receive; moves++)); do keys+=(Down); done
  zm_keys "$host" "$win" "${keys[@]}"
  checker_now[$host]=$checker
  receive_now[$host]=$receive
  zm_shot "$host" "$win" "settings-$host"
  if [ -n "$dest" ]; then
    # About, then the browser's details when enabled, then the destination's details.
    keys=(Tab)
    [ "$receive" -eq 1 ] && keys+=(Tab)
    keys+=(Tab space)
    zm_keys "$host" "$win" "${keys[@]}"
    local chooser
    chooser=$(zm_wait_dialog "$host" 427 123) || return 1
    zm_keys "$host" "$chooser" Tab Tab ctrl+a BackSpace
    zm_type "$host" "$chooser" "$dest"
    zm_shot "$host" "$chooser" "chooser-$host"
    zm_keys "$host" "$chooser" shift+Tab shift+Tab space
    zm_wait_gone "$host" "$chooser"
    # Back on the details button; from the senders group, the next stop, Enter presses OK.
    zm_keys "$host" "$win" Tab Return
  else
    zm_keys "$host" "$win" Return
  fi
  zm_wait_gone "$host" "$win"
}

# zm_wait_notice HOST [SECONDS] : the id of a notice on screen: 141 high, 427 wide or wider
# (a notice longer than the designed dialog widens it).
zm_wait_notice() {
  local host=$1 limit=${2:-20} i id
  for ((i = 0; i < limit * 5; i++)); do
    id=$(zm_windows "$host" | awk '$3 == 141 && $2 >= 427 { print $1; exit }')
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  echo "no notice on $host; windows:" >&2
  zm_windows "$host" >&2
  return 1
}

# notice HOST NAME [SECONDS] : waits for the notice dialog, keeps its picture and presses OK.
notice() {
  local win
  win=$(zm_wait_notice "$1" "${3:-20}") || return 1
  zm_shot "$1" "$win" "$2"
  zm_keys "$1" "$win" space
  zm_wait_gone "$1" "$win"
}

# zm_poll TIMES COMMAND... : runs COMMAND every tenth of a second until it succeeds, TIMES times
# at the most.
zm_poll() {
  local i n=$1
  shift
  for ((i = 0; i < n; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# zm_count_in HOST : from now on HOST counts every packet that reaches its ports 8000 to 8002,
# connection attempts included; zm_counted HOST prints the count.
zm_count_in() {
  zm_on "$1" nft delete table inet zmcount 2>/dev/null
  zm_on "$1" nft -f - <<<'table inet zmcount {
    chain input { type filter hook input priority 0; tcp dport { 8000, 8001, 8002 } counter; }; }'
}
zm_counted() { zm_on "$1" nft list table inet zmcount | sed -n 's/.*counter packets \([0-9]*\).*/\1/p'; }

# zm_kept_case HOST PEER CHECKER OFFER COPY : with HOST's checker on CHECKER (0 ask, 1 default;
# PEER its destination, asleep), the command OFFER TEXT (a password manager's marked copy) opens
# no dialog, reaches none of PEER's ports and is named in HOST's log; the ordinary copy the
# command COPY TEXT makes after it is sent.
zm_kept_case() {
  local host=$1 peer=$2 checker=$3 kept="marked as a password was not forwarded" before
  before=$(grep -c "$kept" "$ZM_NET_DIR/zumelko-$host.log")
  settings "$host" "$checker" 0 && zm_count_in "$peer" && "$4" "password $checker" && zm_no_dialog "$host" 3 &&
    [ "$(zm_counted "$peer")" = 0 ] && [ "$(grep -c "$kept" "$ZM_NET_DIR/zumelko-$host.log")" -gt "$before" ] ||
    { echo "packets to $peer: $(zm_counted "$peer")" >&2; return 1; }
  "$5" "after the password $checker"
  if [ "$checker" = 0 ]; then
    zm_keys "$host" "$(zm_wait_dialog "$host" 427 123)" space  # the chooser, on PEER
  else
    notice "$host" "notice-announce-after-password-$checker" || return 1
  fi
  notice "$host" "notice-finished-after-password-$checker" && [ "$(zm_counted "$peer")" -gt 0 ]
}

# zm_kept_cases HOST PEER OFFER COPY : zm_kept_case in both checker modes, each one check.
zm_kept_cases() {
  check "checker \"ask\": a marked copy opens no chooser and no connection; the next copy is sent" \
    zm_kept_case "$1" "$2" 0 "$3" "$4"
  check "checker \"default\": a marked copy is not announced and opens no connection; the next copy is sent" \
    zm_kept_case "$1" "$2" 1 "$3" "$4"
}

# zm_pids HOST PATTERN : the processes on a host whose command line matches.
zm_pids() {
  local pid
  for pid in $(ip netns pids "${ZM_NET_PREFIX}$1"); do
    ps -o args= -p "$pid" 2>/dev/null | grep -qE -- "$2" && echo "$pid"
  done
}

# zm_quit HOST SIGNAL PROGRAM : sends the signal to the program (its path) on the host, or
# chooses "終了(&E)" when SIGNAL is "exit", or runs the command SIGNAL when there is one (a
# logout, say); the program must end as its exit does: within 10 seconds,
# with code 0, ports 8000 and 8001 free at once for a new instance, none of the processes it
# started (wl-paste, wl-copy) left. (Its display is not asked about its windows afterwards: Xvfb
# may leave a client that connects while a closing one still holds the server waiting forever.)
zm_quit() {
  local host=$1 sig=$2 program=$3 pid i rc=0 start children
  pid=$(zm_pids "$host" "^$program( |\$)")
  if [ -z "$pid" ]; then
    echo "the program does not run on $host" >&2
    return 1
  fi
  children=$(ps -o pid= --ppid "$pid")
  start=$(date +%s%N)
  if [ "$sig" = exit ]; then
    zm_menu "$host" 3 e || return 1
  elif [ "$(type -t "$sig")" = function ]; then
    "$sig" || return 1
  else
    kill -s "$sig" "$pid"
  fi
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "the program on $host still runs 10 s after $sig" >&2
    kill -9 "$pid"
    rc=1
  fi
  local code=0
  wait "${ZM_PID[$host]}" || code=$?
  zm_say "$host: ended $(((($(date +%s%N) - start) / 1000000))) ms after $sig, with code $code"
  [ "$code" -eq 0 ] || rc=1
  if ! zm_on "$host" python3 -c '
import socket
for port in (8000, 8001):
    s = socket.socket()
    s.bind(("0.0.0.0", port))
    s.listen()
'; then
    echo "ports 8000 and 8001 are not free on $host" >&2
    rc=1
  fi
  local left
  left=$(for i in $children; do ps -o pid=,args= -p "$i"; done)
  if [ -n "$left" ]; then
    echo "what the program started is left on $host:" >&2
    echo "$left" >&2
    rc=1
  fi
  return $rc
}
