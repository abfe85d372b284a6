#!/usr/bin/env bash
# GNOME's clipboard as the program has it: a headless mutter, whose compositor offers no data
# control, so the program takes the X11 clipboard through XWayland. The clipboard's contract
# and the Wayland clipboard's own test run there with Wayland programs (wl-copy, wl-paste) as
# the other programs, none of the program's windows focused: every Wayland copy is told once
# and read whole, and what the program puts there is pasted by wl-paste. The program says at
# start which clipboard it uses, and nothing about the focus.
# Usage: mutter.sh PATH/TO/qt_tests
set -uo pipefail
here=$(dirname "$(readlink -f "$0")")
if [ "$(id -u)" -ne 0 ] || ! command -v mutter >/dev/null || ! command -v wl-copy >/dev/null ||
  ! command -v dbus-run-session >/dev/null || ! /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
  echo "SKIP: needs root (to make the test user), mutter, wl-clipboard, dbus-run-session and python3-dbus"
  exit 77
fi
. "$here/sway.sh"
zw_user
dir=$(mktemp -d)
chmod 755 "$dir"
trap 'rm -rf "$dir"' EXIT
install -m 755 "$1" "$dir/qt_tests"
install -m 755 "$here/mutter-keyboard.py" "$dir/"
zw_home "$dir/run"

# In the session: mutter, the keyboard, then the tests on mutter's XWayland display.
cat >"$dir/session.sh" <<'SESSION'
set -u
cd "$HOME"
mutter --wayland --headless --virtual-monitor 1280x1024 >mutter.log 2>&1 &
mutter=$!
"$1/mutter-keyboard.py" >keyboard.log 2>&1 &
keyboard=$!
end() {
  kill "$keyboard" "$mutter" 2>/dev/null
  wait "$keyboard" "$mutter" 2>/dev/null
}
trap end EXIT
for ((i = 0; i < 150; i++)); do
  grep -q ready keyboard.log && grep -q 'Using public X11 display' mutter.log && break
  sleep 0.1
done
display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' mutter.log)
if [ -z "$display" ] || ! grep -q ready keyboard.log; then
  echo "mutter did not come up with XWayland and a keyboard:" >&2
  cat mutter.log keyboard.log >&2
  exit 1
fi
export DISPLAY=$display WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland
XAUTHORITY=$(ls "$HOME"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
export XAUTHORITY
"$1/qt_tests" --gtest_filter='Qt/ClipboardContract*:WaylandClipboard*' 2>&1 | tee tests.log
rc=${PIPESTATUS[0]}
said=$(grep '^zumelko: using' tests.log)
echo "the program said: $said"
case $said in
  *"the X11 clipboard through XWayland"*) ;;
  *) echo "FAILED: the program does not say it uses the X11 clipboard through XWayland" >&2; rc=1 ;;
esac
case $said in
  *focus*) echo "FAILED: the program still says the clipboard needs the focus" >&2; rc=1 ;;
esac
exit "$rc"
SESSION
chmod 644 "$dir/session.sh"
# D-Bus and the test hosts' fixed ports stay in a network namespace of the run's own.
unshare -n setpriv --reuid="$ZW_USER" --regid="$(id -g "$ZW_USER")" --init-groups \
  env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$dir/run" XDG_RUNTIME_DIR="$dir/run" \
  LANG="${LANG:-C.UTF-8}" LC_ALL="${LC_ALL:-C.UTF-8}" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
  dbus-run-session -- bash "$dir/session.sh" "$dir"
