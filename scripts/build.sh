#!/usr/bin/env bash
# Configures and builds the three flavours (and, with --fuzz, the libFuzzer
# build) under build/.
#   build/host    native g++, ASan + UBSan
#   build/driver  Varnholt.sys (x86-64 kernel mode)
#   build/win32   Kelm.exe and its tests (i686)
#   build/fuzz    clang + libFuzzer targets (only with --fuzz)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VH_JOBS:-$(nproc)}
fuzz=0
for arg in "$@"; do
  case $arg in
    --fuzz) fuzz=1 ;;
    *) echo "usage: $0 [--fuzz]" >&2; exit 2 ;;
  esac
done

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$root/build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# g++ is the warning gate in the three flavours; clang in the fuzz build
# only reports.
configure host -DVH_SANITIZE=ON -DVH_WERROR=ON
configure driver -DVH_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-driver.cmake"
configure win32 -DVH_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake" \
          -DVH_HOST_TOOLS_DIR="$root/build/host/tools"
if [ $fuzz = 1 ]; then
  configure fuzz -DVH_WERROR=OFF -DVH_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi

for dir in host driver win32; do
  echo "== building $dir"
  cmake --build "$root/build/$dir" -j "$jobs"
done
if [ $fuzz = 1 ]; then
  echo "== building fuzz targets"
  cmake --build "$root/build/fuzz" -j "$jobs" --target vh_fuzzers
fi
