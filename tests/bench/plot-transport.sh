#!/bin/bash
# Plots throughput against packet size, the channel beside the plain socket copy, from
# transport_bench's JSON output:
#   build/bench/tests/bench/transport_bench --benchmark_out=transport.json --benchmark_out_format=json
#   tests/bench/plot-transport.sh transport.json transport-throughput.png
# Needs python3 and gnuplot, installed here when missing (only this script needs gnuplot).
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib/common.sh"
ensure_packages python3 gnuplot-nox
json=${1:?JSON output of transport_bench}
png=${2:-transport-throughput.png}
data=$(mktemp)
trap 'rm -f "$data"' EXIT
python3 - "$json" >"$data" <<'PY'
import json, sys
rows = []
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if not b["name"].startswith("BM_OnePacket/") or b.get("error_occurred"):
        continue
    size = int(b["name"].split("/")[1])
    rows.append((size, b["channel_MiB/s"], b["plain_MiB/s"], b["ratio"]))
for size, channel, plain, ratio in sorted(rows):
    label = f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB"
    print(size, channel, plain, ratio, f'"{label}"')
PY
gnuplot <<GP
set terminal pngcairo size 900,560 font "sans,11"
set output "$png"
set title "One packet over loopback: packet channel against a plain socket copy"
set xlabel "packet size"
set ylabel "throughput (MiB/s)"
set logscale x 2
set xrange [2048:536870912]
set logscale y 10
set grid
set key top left
set y2label "channel / plain"
set y2tics
set y2range [0:1.5]
plot "$data" using 1:2:xtic(5) with linespoints lw 2 pt 7 title "packet channel", \
     "$data" using 1:3 with linespoints lw 2 pt 5 title "plain socket copy", \
     "$data" using 1:4 axes x1y2 with linespoints lw 1 dt 2 pt 1 title "ratio (right axis)"
GP
echo "$png"
