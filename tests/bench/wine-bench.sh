# Sourced by the benchmarks under Wine: cross-builds the Windows benchmarks optimised into
# build/windows-bench ($wine_bench_dir) and starts a Wine session there ($wine_bench_session),
# stopped when the script exits. A prefix the Windows tests prepared saves making one.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/common.sh"
wine_bench_dir="$ZUMELKO_ROOT/build/windows-bench"
configure_windows_build "$wine_bench_dir" -DCMAKE_BUILD_TYPE=Release -DZUMELKO_TESTS=OFF -DZUMELKO_BENCHMARKS=ON >/dev/null
wine_bench_session="$wine_bench_dir/wine-session"
wine_bench_ready="$ZUMELKO_ROOT/build/windows-test/wine-session/prefix"
if [ ! -f "$wine_bench_session/prefix/.zumelko-ready" ] && [ -f "$wine_bench_ready/.zumelko-ready" ]; then
  mkdir -p "$wine_bench_session" && cp -a "$wine_bench_ready" "$wine_bench_session/prefix"
fi
"$ZUMELKO_ROOT/tests/win32/wine-session.sh" start "$wine_bench_session"
trap '"$ZUMELKO_ROOT/tests/win32/wine-session.sh" stop "$wine_bench_session"' EXIT

# wine_bench_run EXE [args...] : one of the benchmarks, run in the session.
wine_bench_run() {
  local exe=$1
  shift
  ZUMELKO_WINE_SESSION="$wine_bench_session" "$ZUMELKO_ROOT/tests/win32/wine-run.sh" "$wine_bench_dir/$exe" "$@"
}
