#!/usr/bin/env bash
# Runs the Windows builds under Wine, headless (after scripts/windows-build.sh): unit tests, the console
# layer in a pseudo-terminal, start-up runs matching the Linux build's output (CR LF made LF), and a run
# without a console. Where Wine's 32-bit loader cannot run, the 64-bit build stands in, loudly.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
loud() { printf '\n%s\n%s\n\n' "========== $*" "==========" >&2; }

if ! scripts/install-deps.sh wine && ! [ -x /usr/lib/wine/wine64 ]; then
  loud "windows-test: SKIPPED. Wine could not be installed: nothing ran under Wine."
  exit 0
fi
for file in build-win64/tests/kwt_unit_tests.exe build-win64/tests/kwt_console_win32_test.exe \
            build-win64/kwt.exe dist/kwt.exe; do
  [ -f "$file" ] || { echo "windows-test: no $file; run scripts/windows-build.sh first" >&2; exit 1; }
done
export WINEPREFIX="$root/build-win64/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Debian's wine starts the 32-bit loader whenever wine32 is installed, which fails ("Exec format
# error") where the kernel runs no 32-bit programs, and cannot run without wine32.
wine=(wine) programs=(dist/kwt.exe build-win64/kwt.exe)
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' ||
   ! wine --version >/dev/null 2>&1; then
  loud "windows-test: Wine's 32-bit loader does not run here: the 32-bit dist/kwt.exe is NOT tested;" \
       "build-win64/kwt.exe stands in, under Wine's 64-bit loader."
  export WINELOADER=/usr/lib/wine/wine64
  wine=("$WINELOADER") programs=(build-win64/kwt.exe)
fi

work="$root/build-win64/windows-test" && rm -rf "$work" && mkdir -p "$work/adir"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT && failures=0
check() { if "${@:2}"; then echo "  ok    $1"; else echo "  FAIL  $1"; failures=$((failures + 1)); fi; }

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 "${wine[@]}" wineboot --init >"$work/wineboot.log" 2>&1 ||
    { cat "$work/wineboot.log" >&2; echo "windows-test: wineboot failed" >&2; exit 1; }
  wineserver -w
fi

check "unit tests" timeout 300 "${wine[@]}" build-win64/tests/kwt_unit_tests.exe
# Wine gives a program a console only on a terminal: script(1) makes one. Its input is /dev/null, so
# nothing from the caller's stdin reaches the console as keys. Wine must stay in the terminal's
# foreground process group, or its console stops on SIGTTOU: hence exec, and the time limit outside.
console_test() {
  local status=0
  SHELL=/bin/sh timeout 120 script -qec \
    "stty rows 25 cols 80; exec ${wine[*]} build-win64/tests/kwt_console_win32_test.exe" \
    /dev/null </dev/null >"$work/console.log" 2>&1 || status=$?
  [ "$status" = 0 ] && return
  echo "console test: status $status (124: timed out); its output, escape sequences removed:" >&2
  sed -E 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1b\][^\x07]*\x07//g' "$work/console.log" | tr -d '\r' | tail -40 >&2
  false
}
check "console layer on Wine's console" console_test

# The same run on Linux and under Wine: status, stdout and stderr alike.
linux=${KWT_LINUX_BINARY:-$root/build/kwt}
[ -x "$linux" ] || { cmake -S . -B build >/dev/null && cmake --build build --target kwt -j 2 && linux=$root/build/kwt; }
same_as_linux() {
  local program=$1 expected=$2 out="$work/$3" status=0 && shift 3
  (cd "$work" && "$linux" "$@" </dev/null >"$out.linux.out" 2>"$out.linux.err") || status=$?
  [ "$status" = "$expected" ] || return 1
  status=0
  (cd "$work" && timeout 60 "${wine[@]}" "$root/$program" "$@" </dev/null >"$out.out" 2>"$out.err") || status=$?
  [ "$status" = "$expected" ] || return 1
  for stream in out err; do
    ! grep -qv $'\r$' "$out.$stream" || return 1  # CR LF only
    diff <(sed -E 's/^(example: )[^ ]*/\1/' "$out.linux.$stream") \
         <(sed -E 's/\r$//; s/^(example: )[^ ]*/\1/' "$out.$stream") >&2 || return 1
  done
}
printf 'starting\n' >"$work/kwt.err" && printf '#define IDENT 257\n' >"$work/yytab.h"
printf '+----------------------------- STATE 0 -----------------------------+\n' >"$work/yy.lrt"
no_console() {  # status 1 once the listing is read, and one line on stderr says why
  local status=0
  (cd "$work" && timeout 60 "${wine[@]}" "$root/$1" kwt.err yy.lrt yytab.h </dev/null >"$work/nc.out" 2>"$work/nc.err") || status=$?
  [ "$status" = 1 ] && grep -q "Reading the state file" "$work/nc.out" &&
    [ "$(tr -d '\r' <"$work/nc.err")" = "kwt: standard output is not a terminal: kwt needs one for its screen" ]
}
for program in "${programs[@]}"; do
  check "$program usage" same_as_linux "$program" 1 usage a b
  check "$program version" same_as_linux "$program" 0 version --version
  check "$program missing header" same_as_linux "$program" 2 missing kwt.err adir absent.h
  check "$program directory as trace" same_as_linux "$program" 4 directory adir yy.lrt yytab.h
  check "$program without a console" no_console "$program"
done
[ "$failures" -eq 0 ] || { echo "windows-test: $failures FAILED" >&2; exit 1; }
echo "windows-test: all passed"
