#!/usr/bin/env bash
# Writes a bison-style trace of about 300 MB to /tmp (once), then times, against
# `grep -c` over the same file in one run: a forward search with no match, `e`
# past the trace's only syntax error (near its start) finding no further one,
# and a search for a text at the very end; prints the ratios (target <= 2 for
# the first two).
#
#   scripts/search-bench.sh [TEXT]        (default: a token name that never occurs)
# Environment: BENCH_BUILD (default build-bench), TRACE_MB (default 300).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
text=${1:-Next token is token WHILE}
megabytes=${TRACE_MB:-300}
dir=/tmp/kwt-search-bench
trace=$dir/trace-${megabytes}mb-early-error

"$root/scripts/install-deps.sh" build bench
cmake -S "$root" -B "$build" -DKWT_BENCH=ON -DKWT_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target kwt_search_bench

mkdir -p "$dir"
printf '#define IDENT 258\n#define NUMBER 259\n' > "$dir/calc.tab.h"
for s in 0 1 2 3; do
  printf '+------------------------------ STATE %d\n  item\n' "$s"
done > "$dir/calc.lrt"
if [ ! -s "$trace" ]; then
  # About 230 bytes and 10 lines per input token, as bison writes them; a
  # syntax error and its recovery after the first 100 tokens, the end of
  # the input at the very end.
  awk -v bytes=$((megabytes * 1000000)) 'BEGIN {
    print "Starting parse"; print "Entering state 0"; print "Stack now 0"
    for (i = 0; total < bytes; ++i) {
      if (i == 100) {
        print "Reading a token"; print "Next token is token NUMBER (9.1: 7)"
        print "syntax error, unexpected NUMBER"; print "Error: popping nterm expr (1.1: x1)"
        print "Stack now 0 3"; print "Shifting token error (9.1: 7)"
        print "Entering state 9"; print "Stack now 0 3 9"
        print "Error: discarding token NUMBER (9.1: 7)"
      }
      s = i % 6000; t = (i * 7) % 6000
      block = sprintf("Reading a token\nNext token is token IDENT (1.%d: x%d)\nShifting token IDENT (1.%d: x%d)\nEntering state %d\nStack now 0 3 8 %d\nReducing stack by rule 42 (line 310):\n   $1 = token IDENT (1.%d: x%d)\n-> $$ = nterm expr (1.%d: x%d)\nEntering state %d\nStack now 0 3 8 %d", i, i, i, i, s, s, i, i, i, i, t, t)
      print block; total += length(block) + 1
    }
    print "Reading a token"; print "Now at end of input."
    print "Shifting token $end ()"; print "Entering state 1"; print "Stack now 0 1"
  }' > "$trace"
fi
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo 'no commit'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== trace: $trace, $(stat -c %s "$trace") bytes, $(wc -l < "$trace") lines; text: '$text'"
"$build/bench/kwt_search_bench" "$trace" "$dir/calc.lrt" "$dir/calc.tab.h" "$text" 3
