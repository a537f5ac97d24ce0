#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them, then prints the
# figures against their targets. Takes a minute or two.
#
#   scripts/bench.sh [benchmark flags...]
#
# Flags go to the timed benchmarks (build-bench/bench/kwt_bench), e.g.
# --benchmark_filter=indexing or --benchmark_repetitions=9. The full output
# is kept in build-bench/bench-results.txt. Benchmarks are not part of the
# test suite and assert nothing about time.
# Environment: BENCH_BUILD (default build-bench), JOBS (default nproc).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
results=$build/bench-results.txt

"$root/scripts/install-deps.sh" build test bench
cmake -S "$root" -B "$build" -DKWT_BENCH=ON -DKWT_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target kwt kwt_bench kwt_bench_terminal

{
  echo "== kwt benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo 'no commit')"
  echo "== load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== timed benchmarks (processor and wall-clock time; medians of repetitions)"
  "$build/bench/kwt_bench" "$@"
  echo
  echo "== the program on a pseudo-terminal: bytes per repaint, peak memory"
  "$build/bench/kwt_bench_terminal"
} 2>&1 | tee "$results"

echo
echo "================================ results ================================"
sed -n '/^==== summary/,$p' "$results" | sed -n '/^==== summary/,/^$/p'
sed -n '/^== the program on a pseudo-terminal/,$p' "$results"
echo "(full output: $results)"
