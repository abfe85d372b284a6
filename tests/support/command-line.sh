#!/usr/bin/env bash
# The program's own command line: --help and --version print and end without starting the tray
# program (on Windows /? and /option too); a wrong option is named on standard error with exit
# 2; on Linux, without a display it says so in one line and ends with 1.
# Usage: command-line.sh RUNNER PATH/TO/zumelko VERSION [linux|windows]
#   RUNNER runs the program: env on Linux, wine-run.sh for the Windows program.
set -uo pipefail
run=$1
exe=$2
version=$3
failed=0
expect() {
  local what=$1 want_rc=$2 want=$3 rc out
  shift 3
  out=$(timeout 60 "$run" "$exe" "$@" 2>&1)
  rc=$?
  if [ "$rc" -eq "$want_rc" ] && grep -qF -- "$want" <<<"$out"; then
    echo "ok: $what"
  else
    echo "FAILED: $what (exit $rc): $out"
    failed=$((failed + 1))
  fi
}
expect "--version prints the version" 0 "zumelko $version" --version
expect "--help lists the start options" 0 "--allow NAMES" --help
expect "a wrong value is named, exit 2" 2 '--receive takes ask, link or sleep, not "maybe"' --receive=maybe
expect "an unknown option is named, exit 2" 2 'unknown option "--bogus"' --bogus
expect "--help tells of strict mode and the passphrase" 0 "--passphrase-file FILE" --help
expect "a passphrase is never given as an option" 2 'unknown option "--passphrase"' --passphrase secret
expect "a passphrase file that cannot be read, exit 2" 2 "cannot read the passphrase file" \
  --passphrase-file /nonexistent/zumelko-team --receive=sleep
ZUMELKO_PASSPHRASE= expect "an empty passphrase in the environment, exit 2" 2 "ZUMELKO_PASSPHRASE is empty" \
  --receive=sleep
# 400 kanji: 1200 bytes of UTF-8 (too long), but 800 in code page 932, which Windows would
# give a program that read the variable in the code page.
ZUMELKO_PASSPHRASE=$(printf '合%.0s' $(seq 400)) expect "the environment's passphrase is read as UTF-8" 2 \
  "ZUMELKO_PASSPHRASE is longer than 1024 bytes" --receive=sleep
if [ "${4:-}" = windows ]; then
  expect "/? is help too" 0 "--receive ask|link|sleep" '/?'
  expect "/option is --option" 2 '--receive takes ask, link or sleep, not "maybe"' /receive=maybe
fi
if [ "${4:-}" = linux ]; then
  lines() { grep -c . <<<"$1"; }
  for display in "" ":$((RANDOM % 1000 + 3000))"; do
    out=$(env -u WAYLAND_DISPLAY DISPLAY="$display" QT_QPA_PLATFORM= timeout 60 "$exe" --receive=sleep 2>&1)
    rc=$?
    if [ "$rc" -eq 1 ] && [ "$(lines "$out")" -eq 1 ] && grep -q "^zumelko: .*display" <<<"$out"; then
      echo "ok: display \"$display\" cannot be had: one line, exit 1"
    else
      echo "FAILED: display \"$display\" cannot be had: one line, exit 1 (exit $rc): $out"
      failed=$((failed + 1))
    fi
  done
  # A passphrase file others may read is refused, as a private key is; one taken (or standard
  # input) gets the program as far as the display it lacks.
  secret=$(mktemp -d)
  trap 'rm -rf "$secret"' EXIT
  echo team >"$secret/team"
  for mode in 600 640 604; do
    chmod "$mode" "$secret/team"
    if [ "$mode" = 600 ]; then want_rc=1 want=display; else want_rc=2 want="(mode 0$mode); make it private with: chmod 600 $secret/team"; fi
    DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= expect "passphrase file $mode" "$want_rc" "$want" --passphrase-file "$secret/team" --receive=sleep
  done
  DISPLAY= WAYLAND_DISPLAY= QT_QPA_PLATFORM= expect "passphrase from standard input" 1 display --passphrase-file - --receive=sleep <"$secret/team"
  # The variable is out of the running program's environment block, and so out of what anything
  # it starts inherits (it listens on the fixed ports meanwhile: the test holds their lock).
  out=$(ZUMELKO_PASSPHRASE=hidden-team-words "$(dirname "$0")/../qt/with-xvfb.sh" bash -c '
      "$1" --receive=sleep >/dev/null 2>&1 & pid=$!
      for _ in $(seq 100); do env=$(tr "\0" "\n" </proc/$pid/environ) && grep -q hidden-team <<<"$env" && sleep 0.1 || break; done
      grep -c "ZUMELKO_PASSPHRASE\|hidden-team" <<<"$env"; grep -c "^DISPLAY=" <<<"$env"; kill "$pid"' _ "$exe" 2>&1)
  [ "$out" = "$(printf '0\n1')" ] && echo "ok: the passphrase is out of the environment" ||
    { echo "FAILED: the passphrase is out of the environment: $out"; failed=$((failed + 1)); }
fi
echo "command line: $failed failed"
[ "$failed" -eq 0 ]
