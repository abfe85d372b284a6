#!/usr/bin/env bash
# The seam's contract and the Wayland clipboard's own test, run against the real Wayland
# clipboard of a headless sway (no X display at all: Qt draws offscreen): once with the
# wl-clipboard installed here (2.1), once with a stand-in for the watch of 2.2 and later
# (wl-clipboard-2.2/), which also reports an emptied clipboard and reports every change twice.
# The program's own tool for marked copies sits beside the tests, where both the program and
# the test's other program find it.
# Usage: contract.sh PATH/TO/qt_tests PATH/TO/zumelko-wl-offer
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
if [ "$(id -u)" -ne 0 ] || ! command -v sway >/dev/null || ! command -v wl-copy >/dev/null; then
  echo "SKIP: needs root (to make the test user), sway and wl-clipboard"
  exit 77
fi
. "$here/sway.sh"
zw_user
dir=$(mktemp -d)
chmod 755 "$dir"
trap 'kill "$ZW_SWAY_PID" 2>/dev/null; wait "$ZW_SWAY_PID" 2>/dev/null; rm -rf "$dir"' EXIT
# The build tree is root's: the test runs from a copy its user can read.
install -m 755 "$1" "$dir/qt_tests"
install -m 755 "$2" "$dir/zumelko-wl-offer"
install -d -m 755 "$dir/wl-clipboard-2.2"
install -m 755 "$here/wl-clipboard-2.2/wl-paste" "$here/wl-clipboard-2.2/wl-copy" "$dir/wl-clipboard-2.2/"
zw_home "$dir/run"
zw_sway "$dir/run" || exit 1
rc=0
for tools in /usr/bin "$dir/wl-clipboard-2.2"; do
  echo "--- wl-paste and wl-copy from $tools"
  zw_as "$dir/run" PATH="$tools:/usr/local/bin:/usr/bin:/bin" QT_QPA_PLATFORM=offscreen ZUMELKO_CLIPBOARD= \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
    "$dir/qt_tests" --gtest_filter='Qt/ClipboardContract*:WaylandClipboard*' || rc=1
done
exit $rc
