#!/usr/bin/env bash
# The program ended as a desktop session ends programs, on a display of its own on a test host
# (ports of its own): "終了(&E)" first, as the measure of the rest; then SIGTERM while it is
# idle, SIGINT while its settings dialog is open and SIGHUP while its tray menu is open. Each
# time it must end as its exit does (zm_quit). Started with SIGHUP ignored (nohup), it keeps
# running on SIGHUP. Last, a session manager (tools/session-manager.cpp) logs out, and the
# program ends with the session in the same way. The Wayland path, with wl-paste and wl-copy
# running, ends the same way at the end of wayland-desktops.sh.
# Usage: quit-signals.sh PATH/TO/zumelko OUTPUT-DIR PATH/TO/zumelko-test-session
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
out=$(mkdir -p "$2" && cd "$2" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns"
  exit 77
fi
. "$here/desktop-hosts.sh"
trap zm_net_down EXIT
ZM_SHOTS="$out"
program=$(readlink -f "$1")
session=$(readlink -f "$3")

zm_net_up hosta
# Each start on a display of its own, which nothing asks about while a program ends there.
up() {
  zm_desktop hosta
  zm_start hosta "$program" "$@"
  zm_wait_dialog hosta 36 36 30 >/dev/null
}

zm_say "終了(&E)"
check "the icon window appears" up
check "終了(&E) ends the program as it should" zm_quit hosta exit "$program"

zm_say "SIGTERM while the program is idle"
check "the icon window appears" up
check "SIGTERM ends it as 終了(&E) does" zm_quit hosta TERM "$program"

zm_say "SIGINT while the settings dialog is open"
check "the icon window appears" up
zm_menu hosta 3 c
check "the settings dialog is open" eval "zm_wait_dialog hosta 417 587 >/dev/null"
check "SIGINT ends it as 終了(&E) does" zm_quit hosta INT "$program"

zm_say "SIGHUP while the tray menu is open"
check "the icon window appears" up
menu_open() {
  local before i
  before=$(zm_x hosta xdotool search --onlyvisible --classname zumelko 2>/dev/null | sort)
  zm_tray hosta 3
  for ((i = 0; i < 50; i++)); do
    [ "$(zm_x hosta xdotool search --onlyvisible --classname zumelko 2>/dev/null | sort)" != "$before" ] && return 0
    sleep 0.1
  done
  return 1
}
check "the tray menu is open" menu_open
check "SIGHUP ends it as 終了(&E) does" zm_quit hosta HUP "$program"

zm_say "SIGHUP when the program was started with it ignored (nohup)"
zm_desktop hosta
zm_x hosta bash -c 'trap "" HUP; exec "$0"' "$program" >"$ZM_NET_DIR/zumelko-hosta-nohup.log" 2>&1 &
ZM_PID[hosta]=$!
check "the icon window appears" eval "zm_wait_dialog hosta 36 36 30 >/dev/null"
kill -s HUP "$(zm_pids hosta "^$program( |\$)")"
sleep 1
check "SIGHUP is ignored" zm_alive hosta
check "SIGTERM ends it as 終了(&E) does" zm_quit hosta TERM "$program"

zm_say "The session manager logs out"
mkfifo "$ZM_NET_DIR/session-in"
zm_on hosta "$session" <"$ZM_NET_DIR/session-in" >"$ZM_NET_DIR/session.log" 2>&1 &
session_pid=$!
exec 5>"$ZM_NET_DIR/session-in"
said() {
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q "$1" "$ZM_NET_DIR/session.log" && return 0
    sleep 0.1
  done
  cat "$ZM_NET_DIR/session.log" >&2
  return 1
}
check "the session manager listens" said SESSION_MANAGER=
check "the icon window appears" up "$(grep SESSION_MANAGER= "$ZM_NET_DIR/session.log")"
check "the program joins the session" said registered
logout() {
  echo logout >&5
  said "die sent"
}
check "the session manager logs out, and ends it as 終了(&E) does" zm_quit hosta logout "$program"
exec 5>&-
kill "$session_pid" 2>/dev/null
wait "$session_pid" 2>/dev/null
cp "$ZM_NET_DIR/session.log" "$out/"

for log in "$ZM_NET_DIR"/zumelko-*.log; do cp "$log" "$out/"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
