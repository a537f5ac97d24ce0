#!/usr/bin/env bash
# Builds the reader fuzz targets (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs them.
#
# Each target (fuzz/fuzz_<target>.cpp) hands its input to a reader from
# memory and checks invariants that hold for every kind of file (kwt's own,
# byacc's, bison's): the line reader's pieces equal a plain model of text
# mode (fuzz/common.cpp: CR LF read as LF, 0x1A ending the text, NULs, pieces
# of at most 80 characters, the 64 KiB chunk boundary), the tables stay within
# their bounds, each state's block is exactly its part of the file, every
# step of a trace shows a known state and a bounded token name, and lines
# read back the same after a seek. Seeds and dictionaries are in
# fuzz/corpus/; a seed's 0xFE mark (see Expand) makes a file past the 64 KiB
# chunk, and ctest replays every seed (tests/CMakeLists.txt); the table
# limits are reader rows in tests/readers_test.cpp. While fuzzing, inputs
# are taken as they are and kept short, which keeps a run at thousands of
# inputs a second.
#
#   scripts/fuzz.sh [seconds]   fuzz each target for `seconds` (default 60)
#   scripts/fuzz.sh --smoke     run each target once over its seed corpus
#   scripts/fuzz.sh --build     build only
#
# Targets: include (token header), lrt (state listing), trace (debug trace).
# Set FUZZ_TARGETS="lrt trace" to run some of them only. Runs work on a copy
# of fuzz/corpus/<target> in build-fuzz/run/<target>, so the seed corpus in
# the repository does not grow; crash reproducers land in
# build-fuzz/run/<target>/artifacts/. Exits non-zero on any finding.
#
# Needs clang++ and the compiler-rt libraries (scripts/install-deps.sh fuzz).
# Environment: CXX_FUZZ (default clang++), FUZZ_BUILD (default build-fuzz),
# FUZZ_ARGS (extra libFuzzer options).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD:-$root/build-fuzz}
cxx=${CXX_FUZZ:-clang++}
# The bundled example of each input is a seed too.
declare -A example_of=([include]=yytab.h [lrt]=yy.lrt [trace]=kwt.err)
read -r -a targets <<<"${FUZZ_TARGETS:-include lrt trace}"
read -r -a extra_args <<<"${FUZZ_ARGS:-}"
mode=run
seconds=60

case "${1:-}" in
  --smoke) mode=smoke ;;
  --build) mode=build ;;
  -h|--help) sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  '') ;;
  *)
    if [[ "$1" =~ ^[0-9]+$ ]] && [ "$1" -gt 0 ]; then
      seconds=$1
    else
      echo "fuzz.sh: expected a number of seconds, --smoke or --build, not '$1'" >&2
      exit 2
    fi
    ;;
esac

if ! command -v "$cxx" >/dev/null; then
  echo "fuzz.sh: $cxx not found (scripts/install-deps.sh fuzz installs clang)" >&2
  exit 2
fi

# shellcheck disable=SC2054  # commas belong to the flags
common_flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer
              -fsanitize=address,undefined -fno-sanitize-recover=all
              -Wall -Wextra -Wpedantic -Werror -DKWT_TEXT_FROM_MEMORY -I"$root/src")
units=(src/include.cpp src/lrt.cpp src/trace.cpp src/kind_*.cpp src/stack.cpp src/platform/textfile.cpp src/platform/textfile_memory.cpp
       fuzz/common.cpp)
headers=("$root"/src/kwt.h "$root"/src/kinds.h "$root"/src/platform/*.h "$root"/fuzz/common.h)

# Rebuilds `output` from `inputs` when any of them (or a header) is newer.
stale() {
  local output=$1
  shift
  [ -e "$output" ] || return 0
  local input
  for input in "$@" "${headers[@]}" "$0"; do
    [ "$input" -nt "$output" ] && return 0
  done
  return 1
}

build() {
  mkdir -p "$out/obj"
  local objects=() unit object
  for unit in "${units[@]}"; do
    object="$out/obj/$(basename "${unit%.cpp}").o"
    if stale "$object" "$root/$unit"; then
      echo "fuzz.sh: compiling $unit"
      "$cxx" "${common_flags[@]}" -fsanitize=fuzzer-no-link -c "$root/$unit" -o "$object.$$"
      mv -f "$object.$$" "$object"
    fi
    objects+=("$object")
  done
  local target
  for target in "${targets[@]}"; do
    local source="$root/fuzz/fuzz_$target.cpp"
    if [ ! -f "$source" ]; then
      echo "fuzz.sh: no target '$target'" >&2
      exit 2
    fi
    if stale "$out/fuzz_$target" "$source" "${objects[@]}"; then
      echo "fuzz.sh: linking fuzz_$target"
      "$cxx" "${common_flags[@]}" -fsanitize=fuzzer "$source" "${objects[@]}" \
        -o "$out/fuzz_$target.$$"
      mv -f "$out/fuzz_$target.$$" "$out/fuzz_$target"
    fi
  done
}

# Runs one target; prints its summary and any reproducers. Fails on a finding.
run_target() {
  local target=$1
  local work="$out/run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -p "$root/fuzz/corpus/$target/." "$work/corpus/" -R
  cp -p "$root/examples/${example_of[$target]}" "$work/corpus/example-${example_of[$target]}"
  local options=(-max_len=1024 -rss_limit_mb=2048 -timeout=20 -print_final_stats=1
                 -dict="$root/fuzz/corpus/$target.dict" -artifact_prefix="$work/artifacts/")
  if [ "$mode" = smoke ]; then
    options+=(-runs=0)
  else
    options+=(-max_total_time="$seconds")
  fi
  options+=("${extra_args[@]}")
  echo "fuzz.sh: fuzz_$target ${options[*]}"
  local status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$out/fuzz_$target" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
    "$work/log" | sed "s/^/  $target: /" || true
  local findings=()
  mapfile -t findings < <(find "$work/artifacts" -type f | sort)
  if [ "$status" -ne 0 ] || [ ${#findings[@]} -gt 0 ]; then
    echo "fuzz.sh: fuzz_$target FAILED (status $status); log: $work/log" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|\*\*\* fuzz check failed)' "$work/log" | head -5 >&2 || true
    local file
    for file in "${findings[@]}"; do
      echo "fuzz.sh: reproducer: $file" >&2
      echo "fuzz.sh:   replay with: $out/fuzz_$target '$file'" >&2
    done
    return 1
  fi
  return 0
}

build
[ "$mode" = build ] && exit 0

failed=0
for target in "${targets[@]}"; do
  run_target "$target" || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: findings above" >&2
  exit 1
fi
echo "fuzz.sh: no findings"
