#!/usr/bin/env bash
# The transport benchmark on the Windows desktop under Wine: cross-builds
# transport_bench_win32 optimised into build/windows-bench, starts a Wine session there and
# prints the table (channel against a plain Winsock copy, medians). An argument scales the
# iterations (0.25 for a quick look). Uses the ports 28711 and 28712 on loopback.
set -euo pipefail
. "$(dirname "$0")/wine-bench.sh"
wine_bench_run transport_bench_win32.exe "$@"
