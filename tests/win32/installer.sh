#!/usr/bin/env bash
# The Windows installer under Wine, in a Wine session and prefix of its own (Japanese locale):
# a silent install puts the program (OpenSSL's licence beside it), its shortcuts, its
# Add/Remove Programs entry and its firewall rule in place; the program, started from its
# Startup shortcut, takes a text sent to it; an upgrade first asks the installed exe to quit; a
# silent uninstall leaves nothing; and the wizard's pages, installing and uninstalling, are
# pictured for looking at.
# Wine's netsh does nothing; the command lines it is given are checked (WINEDEBUG fixme+netsh).
# Usage: installer.sh WINDOWS-BUILD-DIR INSTALLER VERSION OUTPUT-DIR
set -uo pipefail
winbuild=$(readlink -f "$1")
setup=$(readlink -f "$2")
version=$3
out=$(mkdir -p "$4" && cd "$4" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and ip netns for the Wine session's own network"
  exit 77
fi
# The session's display keeps its socket file in a folder of this run's own, so that it never
# takes the place of another X server's on this machine.
if [ "${ZUMELKO_INSTALLER_OWN_MOUNTS:-}" != 1 ]; then
  exec unshare -m --propagation private env ZUMELKO_INSTALLER_OWN_MOUNTS=1 "$0" "$@"
fi
mount -t tmpfs tmpfs /tmp/.X11-unix || exit 1
tools="$winbuild/tests/win32"
packed="$winbuild/installer/zumelko.exe"  # the exe the installer holds: the one built, stripped
license="$winbuild/installer/OpenSSL-LICENSE.txt"  # and OpenSSL's licence, which goes beside it
for f in "$setup" "$packed" "$license" "$tools/desk_user.exe" "$tools/setup_user.exe" "$tools/command_line_log.exe"; do
  [ -e "$f" ] || { echo "missing $f" >&2; exit 1; }
done
started=$(date +%s)
session="$winbuild/wine-installer"
work="$session/work"
passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok   $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
  fi
}
say() { echo "== $*"; }

# A prefix of its own, copied from the one the Windows tests prepared (making one takes about
# 20 s), and made anew when a run that did not end left things installed in it.
template="$winbuild/wine-session/prefix"
"$here/wine-session.sh" stop "$session" >/dev/null 2>&1
if [ -e "$session/unfinished" ]; then rm -rf "$session/prefix"; fi
if [ ! -f "$session/prefix/.zumelko-ready" ] && [ -f "$template/.zumelko-ready" ]; then
  rm -rf "$session/prefix"
  mkdir -p "$session" && cp -a "$template" "$session/prefix"
fi
mkdir -p "$session" && touch "$session/unfinished"
rm -rf "$work" && mkdir -p "$work"
# The session lives in a network of its own, display and wineserver included: its programs
# reach the display through the network's own abstract socket, whatever other X servers on the
# machine do with the shared socket files.
netns=zminst-$(printf '%s' "$session" | md5sum | cut -c1-10)
session_down() {
  "$here/wine-session.sh" stop "$session" >/dev/null 2>&1
  ip netns del "$netns" 2>/dev/null
}
session_down
trap session_down EXIT
ip netns add "$netns" && ip -n "$netns" link set lo up || exit 1
ip netns exec "$netns" env ZUMELKO_WINE_OWN_NETWORK=0 "$here/wine-session.sh" start "$session" >"$work/session.log" 2>&1 ||
  { cat "$work/session.log"; exit 1; }
# shellcheck disable=SC1091
. "$session/env"

# win PROGRAM ARGS... : a Windows program in the session, in its network; the variables of the
# caller's environment reach it, and what Wine's netsh is asked goes to standard error.
win() {
  ip netns exec "$netns" bash -c '. "$0/env" && export WINEDEBUG=-all,fixme+netsh && exec "$WINE_BIN/wine64" "$@"' \
    "$session" "$@"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
drive_c="$WINEPREFIX/drive_c"
instdir="$drive_c/Program Files/Zumelko"
exe_win='C:\Program Files\Zumelko\zumelko.exe'
menu_lnk="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zumelko.lnk"
arp='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zumelko'
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do "$@" && return 0; sleep 0.2; done
  return 1
}
listening() { ip netns exec "$netns" ss -Hltn "sport = :$1" | grep -q .; }
not_listening() { ! listening "$1"; }
# The program's processes in this prefix, by id.
program_pids() {
  local p
  for p in /proc/[0-9]*; do
    { tr '\0' '\n' <"$p/cmdline"; } 2>/dev/null | grep -qi 'zumelko\.exe' || continue
    { tr '\0' '\n' <"$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    echo "${p#/proc/}"
  done
}
no_program() { [ -z "$(program_pids)" ]; }

# The Add/Remove Programs entry as NAME=VALUE lines (reg export writes UTF-16), or nothing.
arp_entry() {
  rm -f "$work/arp.reg"
  win reg export "$arp" "$(winpath "$work/arp.reg")" /y >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$work/arp.reg" | python3 -c '
import re, sys
for line in sys.stdin.read().splitlines():
    m = re.match(r"^\"(\w+)\"=(.*)$", line)
    if not m: continue
    v = m.group(2)
    if v.startswith("\""): v = v[1:-1].replace("\\\"", "\"").replace("\\\\", "\\")
    elif v.startswith("dword:"): v = str(int(v[6:], 16))
    print(f"{m.group(1)}={v}")'
}
# The argument lists Wine's netsh was given, one line each, from a program's standard error.
netsh_calls() {
  python3 -c '
import re, sys
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if "fixme:netsh" not in line: continue
    args = [a.replace("\\\\", "\\") for a in re.findall(r"L\"((?:[^\"\\\\]|\\\\.)*)\"", line)]
    print(" | ".join(args[1:]))' "$1"
}
rule_delete='advfirewall | firewall | delete | rule | name=Zumelko'
rule_add="advfirewall | firewall | add | rule | name=Zumelko | dir=in | action=allow | program=$exe_win | protocol=TCP | localport=8000,8001,8002 | profile=private,domain | enable=yes"

# What a prefix holds, to see that uninstalling leaves nothing behind (temporary files aside).
inventory() {
  find "$drive_c" -path '*/Temp' -prune -o -print | sort
  win reg export 'HKLM\Software' "$(winpath "$work/hklm.reg")" /y >/dev/null 2>&1
  win reg export 'HKCU\Software' "$(winpath "$work/hkcu.reg")" /y >/dev/null 2>&1
  cat "$work/hklm.reg" "$work/hkcu.reg" | iconv -f UTF-16 -t UTF-8 | grep -i zumelko
}
# An uninstaller copies itself to %TEMP% and returns at once; the copy does the work.
uninstalled() { [ ! -e "$instdir" ] && [ -z "$(arp_entry)" ]; }

say "Silent install into a fresh prefix"
inventory >"$work/before.txt"
win "$setup" /S 2>"$work/install.log"
check "the silent install exits 0" [ $? -eq 0 ]
check "zumelko.exe is in Program Files (the one built, stripped)" cmp -s "$packed" "$instdir/zumelko.exe"
check "the uninstaller is beside it" [ -f "$instdir/uninstall.exe" ]
check "OpenSSL's licence is beside it" cmp -s "$license" "$instdir/OpenSSL-LICENSE.txt"
check "a Start menu shortcut to it" grep -qaF 'Zumelko\zumelko.exe' "$menu_lnk"
arp_entry >"$work/arp.txt"
cat "$work/arp.txt"
value() { sed -n "s/^$1=//p" "$work/arp.txt"; }
startup_lnk="$drive_c/$(value StartupShortcut | sed 's/^C:\\//; s/\\/\//g')"
check "a shortcut in the user's Startup folder, kept in the entry" \
  bash -c '[[ "$0" == */AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs/StartUp/Zumelko.lnk ]] && grep -qaF "Zumelko\\zumelko.exe" "$0"' "$startup_lnk"
expected_entry() {
  cat <<EOF
DisplayName=Zumelko
DisplayVersion=$version
Publisher=Zumelko
DisplayIcon=$exe_win,0
InstallLocation=C:\\Program Files\\Zumelko
UninstallString="C:\\Program Files\\Zumelko\\uninstall.exe"
QuietUninstallString="C:\\Program Files\\Zumelko\\uninstall.exe" /S
VersionMajor=${version%%.*}
VersionMinor=$(cut -d. -f2 <<<"$version")
NoModify=1
NoRepair=1
EOF
}
check "the Add/Remove Programs entry: name, version $version, publisher, icon, uninstall strings" \
  bash -c 'diff <(sort "$0") <(grep -v -e ^EstimatedSize= -e ^StartupShortcut= "$1" | sort)' \
  <(expected_entry) "$work/arp.txt"
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
size_kib=$(( ($(size_of "$instdir/zumelko.exe") + $(size_of "$instdir/uninstall.exe") + $(size_of "$instdir/OpenSSL-LICENSE.txt")) / 1024 ))
check "the entry's size is the folder's ($size_kib KiB)" \
  bash -c 'd=$(( $0 - $1 )); [ "${d#-}" -le 2 ]' "$(value EstimatedSize)" "$size_kib"
netsh_calls "$work/install.log" >"$work/netsh-install.txt"
cat "$work/netsh-install.txt"
check "netsh: the old rule removed, then one rule for zumelko.exe on TCP 8000, 8001 and 8002, private and domain" \
  diff <(printf '%s\n' "$rule_delete" "$rule_add") "$work/netsh-install.txt"

say "Does the installed exe know /quit?"
# With no copy running, /quit ends at once (non-zero); an exe without it starts the program.
timeout --foreground 6 ip netns exec "$netns" bash -c '. "$0/env" && exec "$WINE_BIN/wine64" "$@"' "$session" "$exe_win" /quit >"$work/probe.log" 2>&1
quit_status=$?
if [ $quit_status -eq 124 ]; then knows_quit=0; echo "it does not (it started the program)"; else knows_quit=1; echo "it does (exit code $quit_status)"; cat "$work/probe.log"; fi
wait_for no_program

say "The program started from its Startup shortcut takes a text"
win start "$(value StartupShortcut)" >"$work/program.log" 2>&1
check "the program listens on 8000, 8001 and 8002" wait_for bash -c 'ip netns exec "$0" ss -Hltn "sport = :8000 or sport = :8001 or sport = :8002" | grep -c . | grep -qx 3' "$netns"
check "it runs from Program Files" bash -c 'for p in $(cat); do tr "\0" "\n" <"/proc/$p/cmdline" | grep -qF "$0" && exit 0; done; exit 1' \
  "$exe_win" <<<"$(program_pids)"
text='インストール先から起動した Zumelko が受け取りました。ﾃｽﾄ'
# A peer of the program's: header packet on 8000, the text with its NUL on 8001, in code page 932.
ip netns exec "$netns" python3 -c '
import socket, sys
def packet(port, payload, seconds):
    with socket.create_connection(("127.0.0.1", port), timeout=seconds) as s:
        s.sendall(len(payload).to_bytes(4, "little") + payload)
        try:
            while s.recv(4096): pass  # the receiver closes when it has taken the packet
        except ConnectionResetError:
            pass  # with a hard close
packet(8000, b"string\r\ntester\r\npeer-pc\r\n", 20)
packet(8001, sys.argv[1].encode("cp932") + b"\0", 60)' "$text" >"$work/peer.log" 2>&1 &
peer=$!
answer_yes() { win "$tools/desk_user.exe" wait 465 183 && win "$tools/desk_user.exe" click 465 183 YES; }
check "the program asks whether to take the text; YES" answer_yes
wait "$peer"
check "the peer's text was taken" [ $? -eq 0 ]
got=$(win "$tools/desk_user.exe" get-text)
check "the clipboard holds the text (got: $got)" [ "$got" = "$text" ]

if [ $knows_quit = 1 ]; then
  say "An upgrade over the running copy ends it first"
  win "$setup" /S 2>"$work/upgrade.log"
  check "the upgrade exits 0" [ $? -eq 0 ]
  check "the running copy has ended" wait_for no_program
  check "its ports are free" not_listening 8000
  check "zumelko.exe is in place" cmp -s "$packed" "$instdir/zumelko.exe"
else
  echo "SKIPPED: an upgrade over the running copy (this exe does not know /quit); the copy is ended here"
  for p in $(program_pids); do kill "$p"; done
  wait_for no_program
fi

say "A silent upgrade with /NOAUTOSTART asks the installed exe to quit before replacing it"
# A stand-in for the installed exe notes how it is called.
cp "$tools/command_line_log.exe" "$instdir/zumelko.exe"
rm -f "$work/commands.txt"
ZUMELKO_COMMAND_LOG=$(winpath "$work/commands.txt") win "$setup" /S /NOAUTOSTART 2>"$work/upgrade-noautostart.log"
check "the upgrade exits 0" [ $? -eq 0 ]
check "the installed exe was called with /quit, once" diff <(printf '"%s" /quit\n' "$exe_win") <(tr -d '\r' <"$work/commands.txt")
check "and then replaced" cmp -s "$packed" "$instdir/zumelko.exe"
check "no Startup shortcut any more" [ ! -e "$startup_lnk" ]
check "the Start menu shortcut stays" [ -f "$menu_lnk" ]
check "the entry keeps no Startup shortcut" bash -c '[ -z "$(sed -n "s/^StartupShortcut=//p" "$0")" ]' <(arp_entry)
check "netsh: still exactly one rule" diff <(printf '%s\n' "$rule_delete" "$rule_add") <(netsh_calls "$work/upgrade-noautostart.log")

say "Silent uninstall"
cp "$tools/command_line_log.exe" "$instdir/zumelko.exe"
rm -f "$work/commands.txt"
ZUMELKO_COMMAND_LOG=$(winpath "$work/commands.txt") win "$instdir/uninstall.exe" /S 2>"$work/uninstall.log"
check "the uninstaller exits 0" [ $? -eq 0 ]
check "the uninstall ends" wait_for uninstalled
check "the installed exe was called with /quit first" diff <(printf '"%s" /quit\n' "$exe_win") <(tr -d '\r' <"$work/commands.txt")
check "netsh: the rule removed" diff <(printf '%s\n' "$rule_delete") <(netsh_calls "$work/uninstall.log")
inventory >"$work/after.txt"
check "nothing left: files, shortcuts, registry" diff "$work/before.txt" "$work/after.txt"

say "The wizard's pages in Japanese, installing and uninstalling"
rm -f "$out"/*.png
# Wine has no MS PGothic, the font of the wizard's Japanese pages; the proportional IPA font
# in its place gives them about the widths they were laid out for.
printf '\xff\xfe' >"$work/fonts.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"ＭＳ Ｐゴシック"="IPAPGothic"\r\n"MS PGothic"="IPAPGothic"\r\n' |
  iconv -f UTF-8 -t UTF-16LE >>"$work/fonts.reg"
# (Set only here: set in a new prefix before the program had run there, it kept Wine from
# making the program's windows.)
win regedit /S "$(winpath "$work/fonts.reg")"
# page NAME EXPECTED... : a picture of the wizard's page once its texts include EXPECTED (a page
# that works, such as the progress, gets there later).
page() {
  local name=$1 texts geometry want i missing
  shift
  for ((i = 0; i < 30; i++)); do
    texts=$(win "$tools/setup_user.exe" show Zumelko) || return 1
    missing=
    for want in "$@"; do grep -qF -- "$want" <<<"$texts" || missing=$want; done
    [ -z "$missing" ] && break
    sleep 0.5
  done
  printf '%s\n' "$texts" >"$out/$name.txt"
  geometry=$(head -n1 <<<"$texts" | awk '{ printf "%dx%d+%d+%d", $3, $4, $1, $2 }')
  ip netns exec "$netns" import -display "$DISPLAY" -window root -crop "$geometry" +repage "$out/$name.png" || return 1
  [ -z "$missing" ] || { echo "  '$missing' is not on the page" >&2; return 1; }
  # Text that went through a wrong code page shows as ? or U+FFFD.
  ! grep -q -e '??' -e $'\xef\xbf\xbd' <<<"$texts"
}
next() { win "$tools/setup_user.exe" next Zumelko; }
win "$setup" 2>"$work/wizard.log" &
wizard=$!
check "welcome page" page 1-welcome "Zumelko セットアップ" "Zumelko $version をインストールします。" "次へ(&N) >"
check "  next" next
check "folder page" page 2-folder "インストール先の選択" 'C:\Program Files\Zumelko'
check "  next" next
check "components page" page 3-components "構成要素の選択" "インストール(&I)"
check "  install" next
check "installed page" page 4-installed "インストールの完了"
check "  next" next
check "finish page" page 5-finish "Zumelko $version をインストールしました。" "完了(&F)"
check "  finish" next
wait "$wizard"
check "the installer exits 0" [ $? -eq 0 ]
check "the Startup shortcut is made (on by default)" [ -f "$startup_lnk" ]

cp "$tools/command_line_log.exe" "$instdir/zumelko.exe"
ZUMELKO_COMMAND_LOG=$(winpath "$work/commands.txt") win "$instdir/uninstall.exe" 2>"$work/unwizard.log"
check "uninstall: confirm page" page 6-uninstall-confirm "Zumelko アンインストール" "Zumelko のアンインストール" 'C:\Program Files\Zumelko\'
check "  uninstall" next
check "uninstall: done page" page 7-uninstalled "アンインストールの完了"
check "  next" next
check "uninstall: finish page" page 8-uninstall-finish "Zumelko は、このコンピュータからアンインストールされました。"
check "  finish" next
check "the uninstall ends" wait_for uninstalled
check "nothing left again" diff "$work/before.txt" <(inventory)

ls "$out"
[ "$failed" -eq 0 ] && rm -f "$session/unfinished"
echo "$passed passed, $failed failed; $(($(date +%s) - started)) s"
[ "$failed" -eq 0 ]
