#!/usr/bin/env bash
# Does all the set-up on a fresh machine, builds every flavour and runs every
# test: host (ASan + UBSan), the driver image checks, win32 under Wine and
# Xvfb, then each fuzz target for a bounded time, then the engine's race
# tests under ThreadSanitizer. Exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${VH_JOBS:-$(nproc)}
start=$(date +%s)
# Each step's wall time, printed at the end (scripts/build.sh adds its own).
times="$root/build/times.txt"
mkdir -p "$root/build"
: >"$times"
timed() {  # label, command...
  local label=$1 t0 rc; shift
  t0=$(date +%s)
  "$@"; rc=$?
  printf '%-13s %5d s\n' "$label" $(( $(date +%s) - t0 )) >>"$times"
  return $rc
}

"$root/scripts/bootstrap.sh" || exit 1
"$root/scripts/build.sh" --fuzz || { echo "test: build failed" >&2; exit 1; }

status=0
# The committed format holds for every source.
echo "== format"
timed format "$root/scripts/check-format.sh" || status=1
# The bug-prone and performance checks over the host build's sources, then
# over the Win32-only sources of the Win32 build whose tests run here.
echo "== tidy"
timed "tidy host" "$root/scripts/check-tidy.sh" "$root/build/host" || status=1
win_build=win64
[ "$("$root/scripts/wine-session.sh" arch)" = 32 ] && win_build=win32
timed "tidy $win_build" "$root/scripts/check-tidy.sh" "$root/build/$win_build" "$root/build/host" || status=1

run_ctest() {  # flavour, extra ctest args...
  local dir=$1; shift
  echo "== tests: $dir"
  timed "test $dir" ctest --test-dir "$root/build/$dir" --output-on-failure --no-tests=error "$@" || status=1
}
run_ctest host -j "$jobs"
run_ctest driver
if [ "$("$root/scripts/wine-session.sh" arch)" = 32 ]; then
  run_ctest win32 -j "$jobs"
else
  # The kernel here runs no 32-bit programs, so Wine cannot start the
  # 32-bit tests: the same sources, built for x86-64, run instead.
  echo "test: this machine cannot run 32-bit programs; the Win32 tests run as 64-bit programs"
  run_ctest win64 -j "$jobs"
fi
if ctest --test-dir "$root/build/fuzz" -N | grep -q "Total Tests: [1-9]"; then
  run_ctest fuzz -j "$jobs"
fi
# The engine's races (held transfers, the request storm, the drives and the
# worker handshake) and the tree's validation thread under ThreadSanitizer:
# any report fails the run.
TSAN_OPTIONS="halt_on_error=1 exitcode=66" run_ctest tsan -R "^(engine_(race|drive|io)|lazytree_validation_thread)_test$"

echo "== time per step"
cat "$times"
echo "test: finished in $(( $(date +%s) - start )) s"
if [ $status -ne 0 ]; then
  echo "test: FAILED" >&2
fi
exit $status
