# A headless sway for tests. sway will not run as root, so it runs, with everything that talks
# to it (the program, wl-copy, wl-paste), as an unprivileged user of its own, with a runtime
# directory of its own.
# shellcheck shell=bash

ZW_USER=${ZW_USER:-zumelko-wl}

# zw_user : the test user, made once (two tests may both try at the same moment).
zw_user() {
  id -u "$ZW_USER" >/dev/null 2>&1 && return 0
  useradd --system --no-create-home --shell /usr/sbin/nologin "$ZW_USER" 2>/dev/null
  id -u "$ZW_USER" >/dev/null 2>&1
}

# zw_home DIR : DIR made the test user's, for its runtime directory and home.
zw_home() {
  mkdir -p "$1"
  chown "$ZW_USER:" "$1"
  chmod 700 "$1"
}

# zw_as DIR [VAR=value...] command... : a command as the test user, its runtime directory and
# home in DIR, on the compositor there. Only the environment given here reaches it.
zw_as() {
  local dir=$1
  shift
  setpriv --reuid="$ZW_USER" --regid="$(id -g "$ZW_USER")" --init-groups \
    env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$dir" XDG_RUNTIME_DIR="$dir" WAYLAND_DISPLAY=wayland-1 \
    XDG_SESSION_TYPE=wayland LANG="${LANG:-C.UTF-8}" LC_ALL="${LC_ALL:-C.UTF-8}" "$@"
}

# zw_sway DIR [PREFIX...] : sway on DIR (run through PREFIX, e.g. to put it on a test host);
# waits for its socket. Its pid is in ZW_SWAY_PID.
zw_sway() {
  local dir=$1 i
  shift
  printf 'xwayland enable\n' >"$dir/sway.config"
  chown "$ZW_USER:" "$dir/sway.config"
  rm -f "$dir/wayland-1" "$dir/wayland-1.lock"
  "$@" setpriv --reuid="$ZW_USER" --regid="$(id -g "$ZW_USER")" --init-groups \
    env -i PATH=/usr/bin:/bin HOME="$dir" XDG_RUNTIME_DIR="$dir" WAYLAND_DISPLAY=wayland-1 \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$dir/sway.config" >>"$dir/sway.log" 2>&1 &
  ZW_SWAY_PID=$!
  for ((i = 0; i < 100; i++)); do
    [ -S "$dir/wayland-1" ] && return 0
    sleep 0.1
  done
  echo "sway did not come up:" >&2
  cat "$dir/sway.log" >&2
  return 1
}
