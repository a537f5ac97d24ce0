#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
# Usage: scripts/install-deps.sh [build|test|lint|windows|wine|fuzz|bench|package]...
set -euo pipefail

packages=(g++ cmake make pkg-config libncurses-dev)
for need in "$@"; do
  case "$need" in
    build) ;;
    test) packages+=(libgtest-dev libvterm-dev byacc btyacc bison lemon) ;;
    lint) packages+=(clang-format clang-tidy) ;;
    windows) packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest) ;;
    # wine32 (from the i386 architecture) runs the 32-bit kwt.exe.
    wine) packages+=(wine wine64 wine32:i386 tmux) ;;
    fuzz) packages+=(clang libclang-rt-dev) ;;
    bench) packages+=(libbenchmark-dev bison lemon) ;;
    # dpkg-shlibdeps and file: the Debian package's dependencies on shared libraries.
    package) packages+=(dpkg-dev file) ;;
    *) echo "install-deps: unknown set '$need'" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
