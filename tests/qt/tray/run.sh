#!/usr/bin/env bash
# The tray as a Wayland desktop has it: the StatusNotifierItem service on D-Bus. On a private
# session bus, a watcher and host of our own (notifier-host.py) takes the program's icon and
# clicks it; the tray test checks that both menus open through it. Then, with nobody on the bus
# to take an icon, the same test checks that the icon window stands in.
# Usage: run.sh PATH/TO/qt_tests OUTPUT-DIR
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
tests=$1
out=$(mkdir -p "$2" && cd "$2" && pwd)
if ! command -v dbus-daemon >/dev/null || ! /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
  echo "SKIP: needs dbus-daemon, python3-dbus and python3-gi"
  exit 77
fi
rc=0
record="$out/notifier-host.json"
rm -f "$record"
# One private bus for each run, ended with it.
bus() {
  dbus-run-session --config-file=/usr/share/dbus-1/session.conf -- "$@"
}
with_host() {
  /usr/bin/python3 "$here/notifier-host.py" "$record" &
  local host=$! i
  for ((i = 0; i < 50; i++)); do
    [ -f "$record" ] && break
    sleep 0.1
  done
  ZUMELKO_TEST_NOTIFIER_RECORD="$record" "$@"
  local r=$?
  kill "$host"
  wait "$host" 2>/dev/null
  return $r
}
export ZUMELKO_TEST_TRAY=1
export -f with_host
export here record
bus bash -c 'with_host "$@"' with-host "$here/../with-xvfb.sh" "$tests" --gtest_filter='StatusNotifier*' || rc=1
echo "what the host was given: $(cat "$record" 2>/dev/null)"
ZUMELKO_TEST_NOTIFIER_RECORD= bus "$here/../with-xvfb.sh" "$tests" --gtest_filter='StatusNotifier*' || rc=1
exit $rc
