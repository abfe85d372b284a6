#!/bin/bash
# Long fuzzing runs, by hand (CI runs each target for a few seconds only): builds every fuzz
# target with clang and runs each until 10 million executions or 15 minutes, whichever comes
# first, then prints executions, executions per second, coverage and crashes per target.
#
#   tests/fuzz/run-long.sh [target...]        targets: header reassembly bitmap tls secure (default all)
#   RUNS=… SECONDS_EACH=… JOBS=… OUT=… tests/fuzz/run-long.sh
#
# The corpus of each target is kept under $OUT/<target>/corpus, so a later run goes on from it;
# crashes land in $OUT/<target>/ as crash-*, leak-*, timeout-* or oom-*.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
OUT=${OUT:-$root/build/fuzz-long}
RUNS=${RUNS:-10000000}
SECONDS_EACH=${SECONDS_EACH:-900}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header reassembly bitmap tls secure)

clangxx=$(command -v clang++ || command -v clang++-14 || true)
[ -n "$clangxx" ] || { echo "clang++ is needed (Debian package clang)" >&2; exit 1; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/target" -B "$OUT/build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$clangxx" -DZUMELKO_SOURCE_DIR="$root" >/dev/null
cmake --build "$OUT/build" -j 2 --target "${targets[@]/%/_fuzzer}" >/dev/null

seeds_of() {
  local t=$1
  if [ "$t" = bitmap ]; then
    local s="$OUT/bitmap/seeds"
    mkdir -p "$s"
    # The compressed and masked forms convert does not write with a 40-byte header.
    cp "$here"/seeds/*.bmp "$s"/
    local src=(-size 13x7 gradient:red-blue)
    convert "${src[@]}" -type Palette -colors 2 "BMP3:$s/bits1.bmp"
    convert "${src[@]}" -type Palette -colors 9 "BMP3:$s/bits4.bmp"
    convert "${src[@]}" -type Palette -colors 60 -compress None "BMP3:$s/bits8.bmp"
    convert "${src[@]}" -type Palette -colors 60 "BMP3:$s/rle8.bmp"
    convert "${src[@]}" -type TrueColor "BMP3:$s/bits24.bmp"
    convert "${src[@]}" -type Palette -colors 9 "BMP2:$s/core4.bmp"
    convert -size 3x2 xc:white -type Bilevel "BMP3:$s/white.bmp"
    echo "$s"
  else
    echo "$here/seeds/$t"
  fi
}

summary=()
for t in "${targets[@]}"; do
  dir="$OUT/$t"
  mkdir -p "$dir/corpus"
  seeds=$(seeds_of "$t")
  max_len=4096
  [ "$t" = bitmap ] && max_len=8192
  log="$dir/run.log"
  echo "== $t: up to $RUNS executions or $SECONDS_EACH s (log $log)"
  status=0
  "$OUT/build/${t}_fuzzer" "$dir/corpus" "$seeds" -runs="$RUNS" -max_total_time="$SECONDS_EACH" \
    -max_len=$max_len -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$dir/" -print_final_stats=1 \
    >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(find "$dir/corpus" -type f | wc -l)
  crashes=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  line="$t: executions ${execs:-?}, exec/s ${rate:-?}, coverage ${cov:-?} edges / ${ft:-?} features, corpus $corpus, crashes $crashes, exit $status"
  echo "$line"
  summary+=("$line")
done
echo
echo "== summary"
printf '%s\n' "${summary[@]}"
