#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: bug-prone and performance checks) over our
# own sources in a build's compile database; fails on any finding.
#   check-tidy.sh [BUILD [SKIP]]   default build/host
# With SKIP (another build), files that build compiles too are left out: the
# Win32 build is checked for its Win32-only files after the host build.
# A mingw-w64 build is checked as that target, against the cross
# compiler's C++ and Windows headers.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/host}
skip=${2:-}
jobs=${VH_JOBS:-$(nproc)}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no compile database in $build" >&2
  exit 1
fi
start=$(date +%s)
# Our sources that the host build compiles: not GoogleTest, nothing
# generated under the build, not the Win32-only files it never sees.
files=$(python3 - "$build/compile_commands.json" "$root" "${skip:+$skip/compile_commands.json}" <<'PY'
import json, os, sys
root = sys.argv[2] + "/"
seen = set()
if len(sys.argv) > 3 and sys.argv[3]:
    for entry in json.load(open(sys.argv[3])):
        seen.add(os.path.realpath(os.path.join(entry["directory"], entry["file"])))
for entry in json.load(open(sys.argv[1])):
    f = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if f.startswith(root) and not f.startswith(root + "build/") and f not in seen:
        seen.add(f)
        print(f)
PY
)
# A cross build: clang is told the target and given the cross compiler's
# C++ and Windows headers (not GCC's own intrinsics, which clang has).
extra=()
cxx=$(python3 -c 'import json, shlex, sys
e = json.load(open(sys.argv[1]))
print(shlex.split(e[0].get("command") or " ".join(e[0]["arguments"]))[0] if e else "")' \
      "$build/compile_commands.json")
case $(basename "${cxx:-c++}") in
  *-w64-mingw32-*)
    triple=$(basename "$cxx" | sed 's/-g++.*//')
    extra+=("--extra-arg=--target=$triple")
    while read -r dir; do
      case $dir in
        */include/c++* | */$triple/include) extra+=("--extra-arg=-isystem$dir") ;;
      esac
    done < <("$cxx" -xc++ -E -v - </dev/null 2>&1 |
             sed -n '/search starts here:/,/End of search list/p' | sed -n 's/^ //p')
    ;;
esac
out=$(printf '%s\n' $files | xargs -P "$jobs" -n 8 clang-tidy -p "$build" --quiet "${extra[@]}" 2>/dev/null)
findings=$(printf '%s\n' "$out" | grep -E ': (warning|error): ' | sort -u)
if [ -n "$findings" ]; then
  printf '%s\n' "$out"
  echo "tidy: $(printf '%s\n' "$findings" | wc -l) findings" >&2
  exit 1
fi
echo "tidy: clean in $(( $(date +%s) - start )) s"
