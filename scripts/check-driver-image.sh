#!/usr/bin/env bash
# Checks that a driver image is a 64-bit native-subsystem PE importing only
# ntoskrnl.exe and hal.dll.
set -euo pipefail
image=${1:?driver image}
dump=$(x86_64-w64-mingw32-objdump -p "$image")
fail() { echo "check-driver-image: $image: $*" >&2; exit 1; }
grep -q 'file format pei-x86-64' <<<"$dump" || fail "not a PE32+ x86-64 image"
grep -Eq '^Subsystem[[:space:]]+00000001' <<<"$dump" || fail "subsystem is not native"
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$dump" | awk '{print tolower($3)}' | sort -u)
[ -n "$imports" ] || fail "imports nothing"
while read -r dll; do
  case $dll in
    ntoskrnl.exe|hal.dll) ;;
    *) fail "imports $dll" ;;
  esac
done <<<"$imports"
echo "check-driver-image: $(basename "$image"): native subsystem, imports: $(echo $imports)"
