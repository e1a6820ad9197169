#!/usr/bin/env bash
# Builds the Windows program for x64 and x86 and the Linux unit tests, into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_type=${BUILD_TYPE:-MinSizeRel}
werror=ON
jobs=${JOBS:-2}

configure() {
  local dir=$1; shift
  if [ ! -f "$root/build/$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$root/build/$dir" -DCMAKE_BUILD_TYPE="$build_type" -DKESTRIX_WERROR=$werror "$@" >/dev/null
  fi
  cmake --build "$root/build/$dir" -j "$jobs"
}

configure win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
configure win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure native -DKESTRIX_WIN64_DIR="$root/build/win64" -DKESTRIX_WIN32_DIR="$root/build/win32"
