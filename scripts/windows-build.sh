#!/usr/bin/env bash
# Cross-builds kwt for Windows with Debian's mingw-w64 compilers:
#   build-win32/  the 32-bit release kwt.exe, copied stripped to dist/kwt.exe
#   build-win64/  the 64-bit kwt.exe, the unit tests (GoogleTest built from
#                 Debian's googletest sources) and the Wine console driver
# scripts/windows-test.sh runs the results under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

scripts/install-deps.sh windows

echo "windows-build: 32-bit release into build-win32/"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKWT_TESTS=OFF >/dev/null
cmake --build build-win32 -j "$jobs"
mkdir -p dist
i686-w64-mingw32-strip -o dist/kwt.exe build-win32/kwt.exe

echo "windows-build: 64-bit program and tests into build-win64/"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-x86_64.cmake" \
  >/dev/null
cmake --build build-win64 -j "$jobs"

echo "windows-build: dist/kwt.exe ($(stat -c %s dist/kwt.exe) bytes)"
