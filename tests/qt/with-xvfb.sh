#!/usr/bin/env bash
# Runs a command on an X display of its own: a fresh Xvfb that picks a free display number
# itself (so tests can run side by side), with no window manager, stopped afterwards.
# ZUMELKO_XVFB_SCREEN chooses the screen (default 1280x1024x24).
set -euo pipefail
dir=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 "${ZUMELKO_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
read -r number <"$dir/display"
export DISPLAY=":$number"
export XDG_RUNTIME_DIR="$dir/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
set +e
"$@"
rc=$?
exit $rc
