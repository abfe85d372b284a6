#!/usr/bin/env bash
# The seam's contract and the Wayland clipboard's own test, run against the real Wayland
# clipboard of a headless sway (no X display at all: Qt draws offscreen).
# Usage: contract.sh PATH/TO/qt_tests
set -uo pipefail
if [ "$(id -u)" -ne 0 ] || ! command -v sway >/dev/null || ! command -v wl-copy >/dev/null; then
  echo "SKIP: needs root (to make the test user), sway and wl-clipboard"
  exit 77
fi
. "$(dirname "$(readlink -f "$0")")/sway.sh"
zw_user
dir=$(mktemp -d)
chmod 755 "$dir"
trap 'kill "$ZW_SWAY_PID" 2>/dev/null; wait "$ZW_SWAY_PID" 2>/dev/null; rm -rf "$dir"' EXIT
# The build tree is root's: the test runs from a copy its user can read.
install -m 755 "$1" "$dir/qt_tests"
zw_home "$dir/run"
zw_sway "$dir/run" || exit 1
zw_as "$dir/run" QT_QPA_PLATFORM=offscreen ZUMELKO_CLIPBOARD= \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
  "$dir/qt_tests" --gtest_filter='Qt/ClipboardContract*:WaylandClipboard*'
