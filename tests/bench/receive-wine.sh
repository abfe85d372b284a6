#!/usr/bin/env bash
# Ways of receiving a large packet on the Windows desktop under Wine, against a blocking recv:
# cross-builds receive_bench_win32 optimised into build/windows-bench, starts a Wine session
# there and prints the tables. Arguments as receive_bench_win32's: a scale for the packet
# counts, then the sizes to time. Uses the ports 28721 to 28729 on loopback.
set -euo pipefail
. "$(dirname "$0")/wine-bench.sh"
# The session's Wine server, whose CPU time the program reads beside its own.
for stat in /proc/[0-9]*/comm; do
  pid=${stat#/proc/}
  pid=${pid%/comm}
  case "$(cat "$stat" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$wine_bench_session/prefix"; then
    export ZUMELKO_WINESERVER_PID=$pid
  fi
done
uptime
wine_bench_run receive_bench_win32.exe "$@"
