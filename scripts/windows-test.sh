#!/usr/bin/env bash
# Runs the Windows builds of kwt under Wine, with no display:
#   1. the 64-bit unit tests, through ctest in build-win64/;
#   2. kwt.exe's start-up failures, whose output must match the Linux
#      build's byte for byte once the Windows C runtime's CRLF line ends are
#      made LF, and a run without a console;
#   3. kwt.exe on Wine's console in a pseudo-terminal, driven by
#      tests/windows/console_driver.cpp with exact virtual-key codes (no
#      terminal can send keypad keys through Wine), its screens checked
#      against tests/windows/console_screens.txt and console_attributes.txt.
# Run scripts/windows-build.sh first. KWT_LINUX_BINARY names the Linux build
# to compare with (default build/kwt, built here when missing).
# Skips, with status 0, only when Wine cannot be installed at all.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

loud() {
  local bar="========================================================================"
  printf '\n%s\n%s\n%s\n\n' "$bar" "$*" "$bar" >&2
}

if ! scripts/install-deps.sh wine && ! command -v wine >/dev/null; then
  loud "windows-test: SKIPPED. Wine could not be installed: nothing ran under Wine."
  exit 0
fi
for tool in wine wineboot wineserver tmux; do
  command -v "$tool" >/dev/null || { echo "windows-test: $tool is missing" >&2; exit 1; }
done

driver=build-win64/tests/windows/kwt_console_driver.exe
for file in build-win64/tests/kwt_unit_tests.exe build-win64/kwt.exe "$driver" dist/kwt.exe; do
  [ -f "$file" ] || { echo "windows-test: no $file; run scripts/windows-build.sh first" >&2; exit 1; }
done

# A private prefix; no display, so nothing can open a window; no downloads
# of the .NET or HTML engines.
export WINEPREFIX="$root/build-win64/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# The 32-bit dist/kwt.exe needs wine32; without it the 64-bit build stands in.
programs=(dist/kwt.exe build-win64/kwt.exe)
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  loud "windows-test: wine32 is not installed: the 32-bit dist/kwt.exe is NOT tested," \
       "build-win64/kwt.exe stands in for it."
  programs=(build-win64/kwt.exe)
fi

# A name for a program's results: dist/kwt.exe gives dist-kwt.
label() {
  local name=${1%.exe}
  echo "${name//\//-}"
}

stage_start=$SECONDS
stage() {
  echo "windows-test: $1 took $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
}

passes=0
failures=0
pass() { echo "  ok    $*"; passes=$((passes + 1)); }
fail() { echo "  FAIL  $*"; failures=$((failures + 1)); }

work="$root/build-win64/windows-test"
rm -rf "$work"
mkdir -p "$work"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT

# ---- the Wine prefix ----------------------------------------------------------
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows-test: making the Wine prefix $WINEPREFIX"
  if ! timeout 300 wineboot --init >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log" >&2
    echo "windows-test: wineboot failed" >&2
    exit 1
  fi
  wineserver -w
fi
stage "the Wine prefix"

# ---- 1. unit tests --------------------------------------------------------------
echo "windows-test: unit tests under Wine"
if ctest --test-dir build-win64 --output-on-failure --timeout 300; then
  pass "unit tests under Wine"
else
  fail "unit tests under Wine"
fi
stage "the unit tests"

# ---- 2. start-up failures, against the Linux build ----------------------------------
linux=${KWT_LINUX_BINARY:-build/kwt}
if [ ! -x "$linux" ]; then
  echo "windows-test: building the Linux kwt to compare with"
  scripts/install-deps.sh build test
  cmake -S . -B build >/dev/null
  cmake --build build --target kwt -j "$jobs"
  linux=build/kwt
fi
case "$linux" in /*) ;; *) linux="$root/$linux" ;; esac

header_line() {
  printf '+----------------------------- STATE %d -----------------------------+' "$1"
}

inputs="$work/inputs"
mkdir -p "$inputs/adir"
printf 'starting\nat state 1, next token 257\n' >"$inputs/kwt.err"
{ header_line 0; printf '\nstate 0 line 1\n'; header_line 1; printf '\nstate 1 line 1\n'
  header_line 2; printf '\n'; } >"$inputs/yy.lrt"
printf '#define IDENT 257\n' >"$inputs/yytab.h"
printf '#define GUARD\n' >"$inputs/empty.h"

# The program's own name in the usage line differs; nothing else may.
normalise() {
  sed -E 's/^(example: ).* (kwt\.err yy\.lrt yytab\.h)$/\1PROGRAM \2/' "$1"
}

# Every line the Windows C runtime writes in text mode ends in CR LF.
crlf_only() {
  ! grep -qv $'\r$' "$1"
}

# compare_with_linux NAME STATUS ARGUMENT...
compare_with_linux() {
  local name=$1 expected=$2 program=$3
  shift 3
  local out="$work/startup/$(label "$program")-$name"
  mkdir -p "$out"
  local linux_status=0 windows_status=0
  (cd "$inputs" && "$linux" "$@" </dev/null >"$out/linux.out" 2>"$out/linux.err") ||
    linux_status=$?
  (cd "$inputs" && timeout 60 wine "$root/$program" "$@" </dev/null >"$out/windows.raw.out" \
    2>"$out/windows.raw.err") || windows_status=$?
  local problems=()
  [ "$linux_status" = "$expected" ] || problems+=("Linux status $linux_status")
  [ "$windows_status" = "$expected" ] || problems+=("Windows status $windows_status")
  for stream in out err; do
    crlf_only "$out/windows.raw.$stream" || problems+=("a bare LF on std$stream")
    sed 's/\r$//' "$out/windows.raw.$stream" >"$out/windows.$stream"
    if ! cmp -s <(normalise "$out/linux.$stream") <(normalise "$out/windows.$stream"); then
      problems+=("std$stream differs")
      diff <(normalise "$out/linux.$stream") <(normalise "$out/windows.$stream") |
        sed 's/^/        /' || true
    fi
  done
  if [ ${#problems[@]} -eq 0 ]; then
    pass "$program $name: status $expected, output as on Linux"
  else
    fail "$program $name: ${problems[*]} (files in $out)"
  fi
}

echo "windows-test: start-up failures, compared with $linux"
for program in "${programs[@]}"; do
  compare_with_linux no-arguments 1 "$program"
  compare_with_linux two-arguments 1 "$program" a b
  compare_with_linux missing-header 2 "$program" kwt.err yy.lrt absent.h
  compare_with_linux header-without-definitions 2 "$program" kwt.err yy.lrt empty.h
  compare_with_linux missing-listing 3 "$program" kwt.err absent.lrt yytab.h
  compare_with_linux missing-trace 4 "$program" absent.err yy.lrt yytab.h
  # fopen of a directory fails with EACCES on Windows; TextOpen names it EISDIR.
  compare_with_linux header-is-a-directory 2 "$program" kwt.err yy.lrt adir
  compare_with_linux listing-is-a-directory 3 "$program" kwt.err adir yytab.h
  compare_with_linux trace-is-a-directory 4 "$program" adir yy.lrt yytab.h

  # With no console at all the first console call fails and the question
  # cannot be asked (no window can open without a display): status 1, and
  # the report on standard error. The standard handles are files here,
  # never null, so unlike on Linux no "NULL handle" line comes first.
  out="$work/startup/$(label "$program")-no-console"
  mkdir -p "$out"
  status=0
  (cd "$inputs" && timeout 60 wine "$root/$program" kwt.err yy.lrt yytab.h </dev/null \
    >"$out/stdout" 2>"$out/stderr") || status=$?
  expected_out=$'Zorvex DeBugger [KWT], Version 2.0\r\nReplays an LR parser\'s debug trace against its state listing.\r\n\r\nReading the state file...\r\nState    3\r\n'
  if [ "$status" = 1 ] && [ "$(cat "$out/stdout"; echo x)" = "${expected_out}x" ] &&
     grep -q '^Console API Error' "$out/stderr" &&
     grep -q '^kwt: Error [0-9]* from GetConsoleScreenBufferInfo on line [0-9]*:' "$out/stderr" &&
     grep -q '^No window to answer in: stopping' "$out/stderr"; then
    pass "$program without a console: status 1 after the listing was read, the report on stderr"
  else
    fail "$program without a console: status $status (files in $out)"
  fi
done
stage "the start-up checks"

# ---- 3. on Wine's console ------------------------------------------------------------
# run_on_console DIRECTORY PROGRAM ACTION... : runs the driver with kwt in a
# pseudo-terminal of 80 x 25 (Wine gives a program started on a terminal a
# console of the terminal's size) and leaves the shots in DIRECTORY/out.
run_on_console() {
  local directory=$1 program=$2
  shift 2
  local socket="${TMPDIR:-/tmp}/kwt-windows-test-$$-$RANDOM.tmux"
  rm -rf "$directory/out"
  mkdir -p "$directory/out"
  local command
  command="cd $(printf %q "$directory") && wine $(printf %q "$root/$driver") run out $*"
  command+=" -- $(printf %q "$root/$program") kwt.err yy.lrt yytab.h"
  command+="; echo \$? >out/driver.status"
  tmux -S "$socket" -f /dev/null new-session -d -x 80 -y 25 "$command"
  local waited=0
  while [ ! -f "$directory/out/driver.status" ] && [ $waited -lt 240 ]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  if [ ! -f "$directory/out/driver.status" ]; then
    tmux -S "$socket" capture-pane -p >"$directory/out/pane.txt" 2>/dev/null || true
    tmux -S "$socket" kill-server 2>/dev/null || true
    echo "driver did not finish within 120 s" >"$directory/out/driver.status"
  fi
  rm -f "$socket"
}

# The shots as one text: "== NAME" and the 25 rows without trailing blanks.
collect_screens() {
  local out=$1
  shift
  for name; do
    echo "== $name"
    sed 's/ *$//' "$out/$name.txt"
  done
}

# The attribute runs of the shots, equal neighbouring rows as one range.
collect_attributes() {
  local out=$1
  shift
  for name; do
    echo "== $name"
    awk '
      function flush() { if (NR > 1) print (first == last ? "row " first : "rows " first "-" last) ": " previous }
      NR == 1 || $0 != previous { if (NR > 1) flush(); first = NR - 1; previous = $0 }
      { last = NR - 1 }
      END { flush() }' "$out/$name.attr"
  done
}

scenario="$work/console"
mkdir -p "$scenario"
{
  printf 'grammar preamble\n'
  header_line 0; printf '\nstate 0 line 1\n'
  header_line 1; printf '\ntab\there\nesc\033[2J bell\007 end\n'
  printf 'L%.0s' {1..100}; printf '\n'
  for line in $(seq 4 29); do printf 'state 1 line %d\n' "$line"; done
  header_line 2; printf '\nstate 2 line 1\nstate 2 line 2\n'
  header_line 3; printf '\nstate 3 line 1\n'
} >"$scenario/yy.lrt"
printf 'starting\r\nat state 2, next token 257\r\nerror: pop state 2, recover state 1\r\nlast line\r\n' \
  >"$scenario/kwt.err"
printf '#define IDENT 257\n' >"$scenario/yytab.h"

# Virtual keys: 13 Enter, 27 Esc, 32 Space, 33/34 PgUp/PgDn, 35/36 End/Home,
# 38/40 Up/Down, 97/98/99 keypad 1/2/3, 103/104/105 keypad 7/8/9, 107 keypad +,
# 109 keypad -, 112 F1, 187 the main keyboard's = and + key.
actions=(
  shot:start
  key:107 shot:step
  key:107 shot:recovery
  key:104 shot:cannot-scroll-up
  key:98 shot:scrolled
  key:40 key:38 shot:scrolled-again
  key:13 shot:enter
  key:109 shot:step-back
  key:103 shot:keypad-7
  key:97 shot:keypad-1
  key:105 shot:keypad-9
  key:99 shot:keypad-3
  key:34 shot:cannot-page-down
  key:33 key:36 shot:home
  key:35 shot:end
  key:112 shot:help
  key:32 shot:after-help
  key:187 shot:hint-bar
  key:33 shot:after-hint-bar
  key:27
)
shots=()
for action in "${actions[@]}"; do
  case "$action" in shot:*) shots+=("${action#shot:}") ;; esac
done
shots+=(final)

echo "windows-test: kwt.exe on Wine's console"
for program in "${programs[@]}"; do
  run="$scenario/$(label "$program")"
  mkdir -p "$run"
  cp "$scenario"/kwt.err "$scenario"/yy.lrt "$scenario"/yytab.h "$run"/
  run_on_console "$run" "$program" "${actions[@]}"
  if [ "$(cat "$run/out/driver.status")" != 0 ]; then
    fail "$program on the console: the driver failed: $(cat "$run/out/driver.status")"
    cat "$run/out/driver.log" "$run/out/pane.txt" 2>/dev/null | sed 's/^/        /' || true
    continue
  fi
  if diff -u tests/windows/console_screens.txt <(collect_screens "$run/out" "${shots[@]}") \
    >"$run/screens.diff"; then
    pass "$program on the console: ${#shots[@]} screens as expected"
  else
    fail "$program on the console: screens differ ($run/screens.diff)"
    head -60 "$run/screens.diff" | sed 's/^/        /'
  fi
  if diff -u tests/windows/console_attributes.txt <(collect_attributes "$run/out" "${shots[@]}") \
    >"$run/attributes.diff"; then
    pass "$program on the console: colours as expected"
  else
    fail "$program on the console: colours differ ($run/attributes.diff)"
    head -40 "$run/attributes.diff" | sed 's/^/        /'
  fi
  if [ "$(cat "$run/out/result.txt")" = $'status 0\nattribute-before 07\nattribute-after 07' ]; then
    pass "$program on the console: Esc ends with status 0 and the colours put back"
  else
    fail "$program on the console: $(tr '\n' ' ' <"$run/out/result.txt")"
  fi
done

# The bundled example: its first screen and help, then Esc.
for program in "${programs[@]}"; do
  run="$work/example/$(label "$program")"
  mkdir -p "$run"
  cp examples/kwt.err examples/yy.lrt examples/yytab.h "$run"/
  run_on_console "$run" "$program" shot:start key:112 shot:help key:27
  states=$(awk 'substr($0, 1, 4) == "+---" && substr($0, 32, 6) == "STATE " { n++ } END { print n + 0 }' \
    examples/yy.lrt)
  expected_first=$(awk 'substr($0, 1, 4) == "+---" && substr($0, 32, 6) == "STATE " { print substr($0, 1, 79); exit }' \
    examples/yy.lrt)
  expected_trace=$(head -n 1 examples/kwt.err | tr -d '\r' | cut -c 1-79)
  expected_status=$(printf 'State %4d of %4d: Next Token: NULL    Help:[F1]^[Sp]' 0 $((states - 1)))
  if [ "$(cat "$run/out/driver.status")" = 0 ] &&
     [ "$(sed -n 1p "$run/out/start.txt" | sed 's/ *$//')" = "$expected_first" ] &&
     [ "$(sed -n 24p "$run/out/start.txt" | sed 's/ *$//')" = "$expected_trace" ] &&
     [ "$(sed -n 25p "$run/out/start.txt" | sed 's/ *$//')" = "$expected_status" ] &&
     [ "$(sed -n 1p "$run/out/help.txt" | sed 's/ *$//')" = "ZORVEX DEBUGGER" ] &&
     [ "$(sed -n 25p "$run/out/help.txt" | sed 's/ *$//')" = "Press any key to exit help" ] &&
     grep -qx 'status 0' "$run/out/result.txt"; then
    pass "$program on the example: first screen, help, Esc"
  else
    fail "$program on the example (files in $run/out)"
  fi
done
stage "the console checks"

echo "windows-test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
