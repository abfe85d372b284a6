#!/usr/bin/env bash
# The steps of install-test.sh inside the throwaway root ROOT (already mounted, the packages in
# ROOT/debs); writes "PASSED FAILED" to ../result beside ROOT.
# Usage: in-root.sh ROOT DISPLAY
set -uo pipefail
r=$1
display=$2
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
in_root() {
  chroot "$r" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
program_deb=$(cd "$r/debs" && ls zumelko_*.deb)
autostart_deb=$(cd "$r/debs" && ls zumelko-autostart_*.deb)
version=$(dpkg-deb -f "$r/debs/$program_deb" Version)
version=${version%-*}
# Every file and directory the packages hold, as absolute paths.
listing() { dpkg-deb --fsys-tarfile "$r/debs/$1" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$'; }
files=$( (listing "$program_deb"; listing "$autostart_deb") | sort -u)

check "apt-get install ./$program_deb pulls in what it needs" \
  in_root bash -c "cd /debs && apt-get install -y -q --no-install-recommends ./$program_deb >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }"
check "the start-at-login package installs after it" \
  in_root bash -c "cd /debs && apt-get install -y -q ./$autostart_deb >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }"
check "the autostart entry starts the program" grep -qx 'Exec=zumelko' "$r/etc/xdg/autostart/zumelko.desktop"
check "the Recommends are avahi-daemon and wl-clipboard" \
  [ "$(dpkg-deb -f "$r/debs/$program_deb" Recommends)" = "avahi-daemon, wl-clipboard" ]
check "Depends were found: Qt among them" bash -c "dpkg-deb -f '$r/debs/$program_deb' Depends | grep -q libqt6widgets6"
for f in /usr/bin/zumelko /usr/bin/zumelko-send /usr/lib/zumelko/zumelko-wl-offer /usr/share/applications/zumelko.desktop \
  /usr/share/icons/hicolor/32x32/apps/zumelko.png /usr/share/man/man1/zumelko.1.gz /usr/share/man/man1/zumelko-send.1.gz \
  /usr/lib/firewalld/services/zumelko.xml /etc/ufw/applications.d/zumelko /usr/share/doc/zumelko/copyright; do
  check "installed: $f" [ -s "$r$f" ]
done
check "zumelko --version says $version" [ "$(in_root zumelko --version)" = "zumelko $version" ]
check "zumelko-send --version says $version" [ "$(in_root zumelko-send --version)" = "zumelko-send $version" ]
no_display=$(in_root zumelko 2>&1)
rc=$?
check "without a display: exit 1 (got $rc) and one line: $no_display" \
  bash -c "[ $rc -eq 1 ] && [ \$(wc -l <<<\"\$1\") -eq 1 ] && grep -q 'no display' <<<\"\$1\"" _ "$no_display"

# Under Xvfb, in a network namespace of its own (its ports are its own): the program starts
# with what the package pulled in, listens, and takes an item zumelko-send gives it.
unshare -n bash -c '
  r=$1 display=$2
  ip link set lo up
  mkdir -p -m 700 "$r/run/user/0"
  chroot "$r" env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 DISPLAY=$display XDG_RUNTIME_DIR=/run/user/0 \
    zumelko --receive=sleep >"$r/tmp/zumelko.log" 2>&1 &
  pid=$!
  listening() { grep -qE ":1F40 00000000:0000 0A" /proc/$pid/net/tcp && grep -qE ":1F41 00000000:0000 0A" /proc/$pid/net/tcp; }
  for _ in $(seq 100); do listening && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if listening; then echo "ok: the program runs under Xvfb and listens on 8000 and 8001"
  else echo "FAILED: the program runs under Xvfb and listens on 8000 and 8001"; cat "$r/tmp/zumelko.log"; fi
  if chroot "$r" env -i PATH=/usr/bin:/bin HOME=/root zumelko-send --timeout 10 127.0.0.1 "from the package test"; then
    echo "ok: zumelko-send hands it a text (exit 0)"
  else echo "FAILED: zumelko-send hands it a text (exit $?)"; fi
  sleep 0.5
  if kill -0 $pid 2>/dev/null; then echo "ok: the program is still running"; else echo "FAILED: the program is still running"; fi
  # Without a tray on the display, its icon shows in a window of its own.
  if [ -n "$(DISPLAY=$display xdotool search --onlyvisible --classname zumelko 2>/dev/null)" ]; then
    echo "ok: its icon window is on the display"
  else echo "FAILED: its icon window is on the display"; fi
  # The first start as a user sees it, kept beside the packages.
  mkdir -p "$ZM_ARTIFACTS" && DISPLAY=$display import -window root "$ZM_ARTIFACTS/first-start.png" 2>/dev/null &&
    echo "picture of the first start: $ZM_ARTIFACTS/first-start.png"
  kill $pid; wait $pid 2>/dev/null
  # Without avahi-daemon (only recommended) the program says once that it finds no one.
  if grep -v "no avahi daemon" "$r/tmp/zumelko.log" | grep -qiE "error|cannot|could not|not found|abort|warning"; then
    echo "FAILED: the program said nothing alarming"; cat "$r/tmp/zumelko.log"
  else echo "ok: the program said nothing alarming"; fi
' _ "$r" "$display" >"$r/../program.out" 2>&1
cat "$r/../program.out"
passed=$((passed + $(grep -c '^ok:' "$r/../program.out")))
failed=$((failed + $(grep -c '^FAILED:' "$r/../program.out")))

quiet() { "$@" >/dev/null; }
check "remove takes both packages" quiet in_root apt-get remove -y -q zumelko-autostart zumelko
left=()
while read -r f; do
  [ -f "$r$f" ] || [ -L "$r$f" ] || continue
  case $f in /etc/*) ;; *) left+=("$f") ;; esac
done <<<"$files"
check "remove leaves no file but those under /etc: ${left[*]:-}" [ ${#left[@]} -eq 0 ]
check "remove keeps the administrator's files under /etc" [ -f "$r/etc/ufw/applications.d/zumelko" ]
check "purge takes the rest" quiet in_root apt-get purge -y -q zumelko-autostart zumelko
left=()
while read -r f; do
  [ -e "$r$f" ] || [ -L "$r$f" ] || continue
  # A folder another package also owns stays, of course.
  [ -d "$r$f" ] && in_root dpkg -S "$f" >/dev/null 2>&1 && continue
  left+=("$f")
done <<<"$files"
check "purge leaves nothing of the packages: ${left[*]:-}" [ ${#left[@]} -eq 0 ]
strays=$(cd "$r" && find . -xdev -name '*zumelko*' -not -path './debs/*' -not -path './tmp/*' -not -path './proc/*' 2>/dev/null)
check "no file named after the program anywhere: $strays" [ -z "$strays" ]
check "dpkg knows the packages no more" bash -c "! chroot '$r' dpkg -l 'zumelko*' 2>/dev/null | grep -q '^[a-z][a-z] '"
echo "$passed $failed" >"$r/../result"
