#!/usr/bin/env bash
# The main job. Sets up a fresh machine, builds every flavour and reports
# what was built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
"$root/scripts/build.sh"

echo
echo "== built"
report() {  # label, file
  if [ -f "$2" ]; then
    printf '  %-44s %s (%s bytes)\n' "$1" "${2#$root/}" "$(stat -c %s "$2")"
  fi
}
report "Varnholt (engine driver, x86-64 kernel mode)" "$root/build/driver/driver/Varnholt.sys"
"$root/scripts/check-driver-image.sh" "$root/build/driver/driver/Varnholt.sys" | sed 's/^/    /'
report "Kelm (manager, 32-bit GUI)" "$root/build/win32/manager/app/Kelm.exe"
for dir in host win32 win64; do
  [ -d "$root/build/$dir" ] || continue
  count=$(ctest --test-dir "$root/build/$dir" -N 2>/dev/null | sed -n 's/^Total Tests: //p')
  echo "  $dir flavour: ${count:-0} test programs"
done

# The engine at work: its control requests on an installed disk image.
echo
echo "== engine report"
"$root/build/host/driver/host/engine_report"
