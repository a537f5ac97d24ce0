#!/usr/bin/env bash
# Builds the benchmarks in release mode, generates their inputs and runs
# them, then the search benchmark (scripts/search-bench.sh). Takes about ten
# minutes; needs about 1 GB of disk for the inputs while it runs, and keeps
# the search benchmark's 300 MB trace in /tmp.
#
#   scripts/bench.sh [benchmark flags...]
#
# Flags go to Google Benchmark, e.g. --benchmark_filter=indexing or
# --benchmark_repetitions=9; with a filter the search benchmark is left out.
# The output is kept in build-bench/bench-results.txt.
# The benchmarks are not part of the test suite and assert nothing about time.
# Environment: BENCH_BUILD (default build-bench), JOBS (default nproc).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
inputs=$build/inputs
results=$build/bench-results.txt

"$root/scripts/install-deps.sh" build bench
cmake -S "$root" -B "$build" -DKWT_BENCH=ON -DKWT_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs" --target kwt kwt_bench kwt_search_bench

# A grammar of SQL-like statement families, and bison's listing of it with
# closure items and lookahead sets (-y: the header also has #define lines).
mkdir -p "$inputs"
python3 "$root/bench/make-grammar.py" "$inputs/grammar.y"
start=$(date +%s%N)
(cd "$inputs" && bison -y -d -v --report=itemsets,lookaheads -Wnone -o grammar.tab.c grammar.y)
bison_ms=$(( ($(date +%s%N) - start) / 1000000 ))
trap 'rm -rf "$inputs"/trace-* "$inputs"/tiny* "$inputs"/generators' EXIT

{
  echo "== kwt benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo 'no commit')"
  echo "== $(nproc) x $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "== $(bison --version | head -1): grammar.y $(wc -l <"$inputs/grammar.y") lines -> grammar.output in ${bison_ms} ms"
  "$build/bench/kwt_bench" "$inputs/grammar.output" "$inputs/grammar.tab.h" "$@"
  # Start-up against wc -l, whole processes in turn, the first pair not counted: kwt reads the
  # header, indexes the listing and ends, its trace being absent.
  for ((run = 0; run <= 20; run++)); do
    a=$EPOCHREALTIME
    "$build/kwt" "$inputs/absent" "$inputs/grammar.output" "$inputs/grammar.tab.h" </dev/null >/dev/null 2>&1 || true
    b=$EPOCHREALTIME
    wc -l "$inputs/grammar.output" >/dev/null
    c=$EPOCHREALTIME
    ((run == 0)) || echo "$a $b $c"
  done | python3 -c '
import statistics, sys
runs = [[float(x) for x in line.split()] for line in sys.stdin]
kwt = statistics.median(b - a for a, b, c in runs)
wc = statistics.median(c - b for a, b, c in runs)
ratio = statistics.median((b - a) / (c - b) for a, b, c in runs)
print(f"start-up: kwt indexing {kwt * 1e3:.1f} ms, wc -l {wc * 1e3:.1f} ms, ratio {ratio:.2f} (medians of {len(runs)} pairs)")'
  if [[ " $* " != *" --benchmark_filter="* ]]; then
    echo
    BENCH_BUILD="$build" JOBS="$jobs" "$root/scripts/search-bench.sh"
  fi
} 2>&1 | tee "$results"
echo "(output kept in $results)"
