#!/usr/bin/env bash
# The transport benchmark on the Windows desktop under Wine: cross-builds
# transport_bench_win32 optimised into build/windows-bench, starts a Wine session there and
# prints the table (channel against a plain Winsock copy, medians). An argument scales the
# iterations (0.25 for a quick look). Uses the ports 28711 and 28712 on loopback.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib/common.sh"
dir="$ZUMELKO_ROOT/build/windows-bench"
configure_windows_build "$dir" -DCMAKE_BUILD_TYPE=Release -DZUMELKO_TESTS=OFF -DZUMELKO_BENCHMARKS=ON >/dev/null
session="$dir/wine-session"
# A prefix the Windows tests prepared saves making one.
ready="$ZUMELKO_ROOT/build/windows-test/wine-session/prefix"
if [ ! -f "$session/prefix/.zumelko-ready" ] && [ -f "$ready/.zumelko-ready" ]; then
  mkdir -p "$session" && cp -a "$ready" "$session/prefix"
fi
"$ZUMELKO_ROOT/tests/win32/wine-session.sh" start "$session"
trap '"$ZUMELKO_ROOT/tests/win32/wine-session.sh" stop "$session"' EXIT
ZUMELKO_WINE_SESSION="$session" "$ZUMELKO_ROOT/tests/win32/wine-run.sh" "$dir/transport_bench_win32.exe" "$@"
