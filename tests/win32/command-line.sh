#!/usr/bin/env bash
# The Windows program's own command line under Wine: --help, /? and --version print and end
# without starting the tray program; a wrong option is named on standard error with exit 2.
# Usage: command-line.sh PATH/TO/wine-run.sh PATH/TO/zumelko.exe VERSION
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
expect "/? is help too" 0 "--receive ask|link|sleep" '/?'
expect "a wrong value is named, exit 2" 2 '--receive takes ask, link or sleep, not "maybe"' /receive=maybe
expect "an unknown option is named, exit 2" 2 'unknown option "--bogus"' --bogus
echo "command line: $failed failed"
[ "$failed" -eq 0 ]
