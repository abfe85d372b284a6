#!/usr/bin/env bash
# One Wine session for a test run: `wine-session.sh start DIR` prepares (once, then reused) a
# Wine prefix under the build tree, a Japanese locale (ANSI code page 932) generated into a
# private folder, an Xvfb display of its own and one persistent wineserver; `wine-session.sh
# stop DIR` ends them. wine-run.sh runs a program inside the session.
# ZUMELKO_XVFB_SCREEN chooses the screen (default 1280x1024x24); ZUMELKO_WINE_DPI the display's
# scale in dots per inch (default 96, 100 %), as Windows' display settings set it.
# Winsock's sockets are made by the wineserver, in whatever network it runs in; so, as root, the
# wineserver runs in a network namespace of the session's own with only loopback, and no test
# program listens on the machine's own network. ZUMELKO_WINE_OWN_NETWORK=0 keeps the caller's
# network instead (a test host's, made by the caller).
set -euo pipefail
action=$1
dir=$2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
wine_bin=/usr/lib/wine
[ -x "$wine_bin/wine64" ] || wine_bin=$(dirname "$(dpkg -L wine64 | grep '/wine64$' | head -n1)")

# Runs a command with no descriptor but the standard three: the session's daemons outlive the
# script, and must not hold on to what its caller had open (a lock, a pipe ctest waits on).
# SETSID=1 puts the command in a session of its own, so it outlives whatever ends the
# caller's process group.
detached() (
  for fd in $(ls /proc/$BASHPID/fd); do
    if [ "$fd" -gt 2 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
  done
  if [ "${SETSID:-}" = 1 ]; then exec setsid "$@"; fi
  exec "$@"
)

stop() {
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    . "$dir/env"
    "$wine_bin/wineserver" -k 2>/dev/null || true
    "$wine_bin/wineserver" -w 2>/dev/null || true
    if [ -n "${ZUMELKO_WINE_NETNS:-}" ]; then ip netns del "$ZUMELKO_WINE_NETNS" 2>/dev/null || true; fi
  fi
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/env"
}

case "$action" in
stop)
  stop
  exit 0
  ;;
start) ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac

stop
# The Japanese locale: not generated on a fresh machine, so made here, privately.
locales="$dir/locale"
if [ ! -d "$locales/ja_JP.UTF-8" ]; then
  mkdir -p "$locales"
  localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 ||
    [ -d "$locales/ja_JP.UTF-8" ] || { echo "localedef ja_JP.UTF-8 failed" >&2; exit 1; }
fi

# The display.
mkfifo "$dir/display.fifo" 2>/dev/null || true
# (In the background job itself, so that $! is the server's pid.)
(
  for fd in $(ls /proc/$BASHPID/fd); do
    if [ "$fd" -gt 3 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
  done
  exec Xvfb -displayfd 3 -screen 0 "${ZUMELKO_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp
) 3>"$dir/display.fifo" </dev/null >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
read -r number <"$dir/display.fifo"
rm -f "$dir/display.fifo"

netns=
if [ "${ZUMELKO_WINE_OWN_NETWORK:-1}" != 0 ] && [ "$(id -u)" -eq 0 ] && ip netns list >/dev/null 2>&1; then
  netns=zmwine-$(printf '%s' "$dir" | md5sum | cut -c1-10)
  ip netns del "$netns" 2>/dev/null || true
  ip netns add "$netns"
  ip -n "$netns" link set lo up
fi
server=("$wine_bin/wineserver" -p)
if [ -n "$netns" ]; then server=(ip netns exec "$netns" "${server[@]}"); fi

# Wine's own browsers stay off: the one that opens web addresses would hand them to this
# machine's browser. Tests that open addresses name a stand-in of their own.
cat >"$dir/env" <<ENV
export WINEPREFIX="$dir/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="iexplore.exe=d;winebrowser.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export DISPLAY=":$number"
export LOCPATH="$locales"
export LANG=ja_JP.UTF-8
export WINE_BIN="$wine_bin"
export ZUMELKO_WINE_NETNS="$netns"
ENV
# shellcheck disable=SC1091
. "$dir/env"
# A new prefix takes a while to make; later runs find it ready.
if [ ! -f "$WINEPREFIX/.zumelko-ready" ]; then
  SETSID=1 detached "$wine_bin/wine64" wineboot -i </dev/null >"$dir/wineboot.log" 2>&1
  "$wine_bin/wineserver" -w
  touch "$WINEPREFIX/.zumelko-ready"
fi
SETSID=1 detached "${server[@]}" </dev/null >"$dir/wineserver.log" 2>&1
# The scale: read by every program as it starts, so set before any starts.
for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
  "$wine_bin/wine64" reg add "$key" /v LogPixels /t REG_DWORD /d "${ZUMELKO_WINE_DPI:-96}" /f \
    </dev/null >>"$dir/wineserver.log" 2>&1
done
# The dialogs' font, as a Japanese Windows has it: the IPA font of the same widths stands in.
for face in 'ＭＳ Ｐゴシック' 'MS PGothic'; do
  "$wine_bin/wine64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d 'IPAPGothic' /f \
    </dev/null >>"$dir/wineserver.log" 2>&1
done
# Wine's own services and its desktop window start with the first program that has windows;
# start them here, detached too, and on the machine's own network, where the display is.
SETSID=1 detached "$wine_bin/wine64" rundll32.exe user32.dll,GetDesktopWindow </dev/null \
  >>"$dir/wineserver.log" 2>&1 || true
