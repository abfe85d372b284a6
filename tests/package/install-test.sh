#!/usr/bin/env bash
# The Debian packages on a clean Debian 12: a minimal root made by debootstrap (kept under
# build/debian-root and reused; remade after a week), each run on a throwaway overlay of it.
# lintian has nothing to say but what concerns uploads to Debian; `apt-get install ./zumelko_*.deb`
# pulls in what the program needs from the Debian mirror; both programs answer --version, the
# program without a display says so, and under Xvfb it starts with nothing but its dependencies
# and takes an item from zumelko-send; remove leaves only the administrator's files under /etc,
# and purge leaves nothing of the packages behind.
# Usage: install-test.sh DEB-DIR [CACHE-DIR]   (root needed; reaches deb.debian.org)
set -uo pipefail
debs=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
cache=${2:-$here/../../build/debian-root}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
if [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null; then
  echo "SKIP: needs root and debootstrap"
  exit 77
fi
shopt -s nullglob
program_deb=("$debs"/zumelko_*.deb)
autostart_deb=("$debs"/zumelko-autostart_*.deb)
if [ ${#program_deb[@]} -ne 1 ] || [ ${#autostart_deb[@]} -ne 1 ]; then
  echo "FAIL: want one zumelko_*.deb and one zumelko-autostart_*.deb in $debs"
  exit 1
fi
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

# Lintian's word on both packages: the tags that only matter to an upload to Debian aside.
upload_only=initial-upload-closes-no-bugs
lint=$(lintian --no-cfg --suppress-tags "$upload_only" "${program_deb[0]}" "${autostart_deb[0]}" 2>&1 |
  grep -v 'running with root privileges')
[ -n "$lint" ] && echo "$lint"
check "lintian reports no error and no warning" bash -c "! grep -qE '^[EW]: ' <<<\"\$1\"" _ "$lint"

# The clean root, made once.
root=$cache/root
if [ ! -f "$cache/ready" ] || [ -n "$(find "$cache/ready" -mtime +7)" ]; then
  rm -rf "$root" "$cache/ready"
  echo "Making a Debian 12 root with debootstrap (about half a minute)"
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$cache/debootstrap.log" 2>&1 ||
    { tail -20 "$cache/debootstrap.log"; echo "FAIL: debootstrap"; exit 1; }
  echo "deb http://deb.debian.org/debian-security bookworm-security main" >>"$root/etc/apt/sources.list"
  chroot "$root" apt-get update -q >>"$cache/debootstrap.log" 2>&1 || { echo "FAIL: apt-get update"; exit 1; }
  chroot "$root" apt-get clean
  touch "$cache/ready"
fi
mkdir -p "$cache/archives/partial"

# The rest runs in a mount namespace of its own: the overlay and its mounts end with it.
work=$(mktemp -d)
Xvfb_pid=
cleanup() {
  [ -n "$Xvfb_pid" ] && kill "$Xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A display for the program, its socket shared with the root.
display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
Xvfb_pid=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

export ZM_ARTIFACTS=$debs/artifacts ZM_DEBS=$debs ZM_ROOT=$root ZM_ARCHIVES=$cache/archives ZM_WORK=$work ZM_DISPLAY=$display
unshare -m --propagation private bash -c '
  set -u
  w=$ZM_WORK; r=$w/merged
  mkdir -p $w/upper $w/work $r
  mount -t overlay overlay -o lowerdir=$ZM_ROOT,upperdir=$w/upper,workdir=$w/work $r || exit 1
  mount -t proc proc $r/proc
  mount --rbind /dev $r/dev
  mount --bind $ZM_ARCHIVES $r/var/cache/apt/archives
  mkdir -p $r/tmp/.X11-unix
  mount --bind /tmp/.X11-unix $r/tmp/.X11-unix
  cp /etc/resolv.conf $r/etc/resolv.conf
  # No service starts inside the root.
  printf "#!/bin/sh\nexit 101\n" >$r/usr/sbin/policy-rc.d; chmod +x $r/usr/sbin/policy-rc.d
  mkdir -p $r/debs; cp $ZM_DEBS/*.deb $r/debs/
  exec "$0" "$@"' "$here/in-root.sh" "$work/merged" "$display"
rc=$?
out=$(cat "$work/result" 2>/dev/null)
p=${out%% *}
f=${out##* }
passed=$((passed + ${p:-0}))
failed=$((failed + ${f:-1}))
[ "$rc" -eq 0 ] || failed=$((failed + 1))
echo "package install test: passed $passed, failed $failed"
[ "$failed" -eq 0 ]
