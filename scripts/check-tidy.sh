#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: bug-prone and performance checks) over our
# own sources in the host build's compile database; fails on any finding.
#   check-tidy.sh [BUILD]   default build/host
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
jobs=${VH_JOBS:-$(nproc)}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no compile database in $build" >&2
  exit 1
fi
start=$(date +%s)
# Our sources that the host build compiles: not GoogleTest, nothing
# generated under the build, not the Win32-only files it never sees.
files=$(python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, os, sys
root = sys.argv[2] + "/"
seen = set()
for entry in json.load(open(sys.argv[1])):
    f = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if f.startswith(root) and not f.startswith(root + "build/") and f not in seen:
        seen.add(f)
        print(f)
PY
)
out=$(printf '%s\n' $files | xargs -P "$jobs" -n 8 clang-tidy -p "$build" --quiet 2>/dev/null)
findings=$(printf '%s\n' "$out" | grep -E ': (warning|error): ' | sort -u)
if [ -n "$findings" ]; then
  printf '%s\n' "$out"
  echo "tidy: $(printf '%s\n' "$findings" | wc -l) findings" >&2
  exit 1
fi
echo "tidy: clean in $(( $(date +%s) - start )) s"
