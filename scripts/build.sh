#!/usr/bin/env bash
# Configures and builds the three flavours (and, with --fuzz, the libFuzzer
# build) under build/.
#   build/host    native g++, ASan + UBSan
#   build/driver  Varnholt.sys (x86-64 kernel mode)
#   build/win32   Kelm.exe and its tests (i686)
#   build/fuzz    clang + libFuzzer targets (only with --fuzz)
#   build/tsan    clang + ThreadSanitizer: the engine's race tests and the tree's validation thread (with --fuzz)
#   build/win64   the win32 flavour's sources for x86-64, only on machines
#                 that cannot run 32-bit programs: its tests run there instead
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

# Each step's wall time goes to build/times.txt, which the test command
# prints at its end.
times="$root/build/times.txt"
mkdir -p "$root/build"
build() {  # dir, label, extra cmake --build args...
  local dir=$1 label=$2 t0; shift 2
  echo "== building $label"
  t0=$(date +%s)
  cmake --build "$root/build/$dir" -j "$jobs" "$@"
  printf 'build %-7s %5d s\n' "$dir" $(( $(date +%s) - t0 )) | tee -a "$times"
}

configure() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$root/build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# g++ is the warning gate in the three flavours; clang in the fuzz build
# only reports.
configure host -DVH_SANITIZE=ON -DVH_WERROR=ON
configure driver -DVH_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-driver.cmake"
wine_arch=$("$root/scripts/wine-session.sh" arch)
# Where Wine runs no 32-bit programs the tests run from the x86-64 build: the
# i686 build then makes the libraries only (warnings, record layouts).
win32_tests=ON
[ "$wine_arch" = 64 ] && win32_tests=OFF
configure win32 -DVH_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win32.cmake" \
          -DVH_HOST_TOOLS_DIR="$root/build/host/tools" -DVH_BUILD_TESTS=$win32_tests
if [ "$wine_arch" = 64 ]; then
  configure win64 -DVH_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-win64.cmake" \
            -DVH_HOST_TOOLS_DIR="$root/build/host/tools"
fi
if [ $fuzz = 1 ]; then
  configure fuzz -DVH_WERROR=OFF -DVH_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  configure tsan -DVH_WERROR=OFF -DVH_TSAN=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
fi

for dir in host driver win32; do
  build $dir $dir
done
if [ "$wine_arch" = 64 ]; then
  build win64 "win64 (this machine runs no 32-bit programs: the Win32 tests run 64-bit)"
fi
if [ $fuzz = 1 ]; then
  build fuzz "fuzz targets" --target vh_fuzzers
  build tsan "the engine's race tests with ThreadSanitizer" \
        --target engine_race_test engine_drive_test engine_io_test lazytree_validation_thread_test
fi
