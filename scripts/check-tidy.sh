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
# generated under the build, not the Win32-only files it never sees. A test
# program built as one unity file is checked file by file, each with the
# unity file's command, from a compile database of our own.
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
files=$(python3 - "$build/compile_commands.json" "$root" "$db" "${skip:+$skip/compile_commands.json}" <<'PY'
import json, os, re, sys
root = sys.argv[2] + "/"

def entries(path):
    """Each compiled source with its entry; a unity file stands for the
    sources it includes."""
    for entry in json.load(open(path)):
        f = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        if re.search(r"/Unity/unity_[^/]*\.cxx$", f):
            for line in open(f):
                m = re.match(r'#include "(.*)"', line)
                if m:
                    yield os.path.realpath(m.group(1)), entry, entry["file"]
        else:
            yield f, entry, None

seen = set()
if len(sys.argv) > 4 and sys.argv[4]:
    seen.update(f for f, _, _ in entries(sys.argv[4]))
db = []
for f, entry, unity in entries(sys.argv[1]):
    if f.startswith(root) and not f.startswith(root + "build/") and f not in seen:
        seen.add(f)
        entry = dict(entry, file=f)
        if unity:
            for key in ("command", "arguments"):
                if key in entry:
                    value = entry[key]
                    entry[key] = (value.replace(unity, f) if isinstance(value, str)
                                  else [f if a == unity else a for a in value])
        db.append(entry)
        print(f)
json.dump(db, open(os.path.join(sys.argv[3], "compile_commands.json"), "w"))
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
out=$(printf '%s\n' $files | xargs -P "$jobs" -n 8 clang-tidy -p "$db" --quiet "${extra[@]}" 2>/dev/null)
findings=$(printf '%s\n' "$out" | grep -E ': (warning|error): ' | sort -u)
if [ -n "$findings" ]; then
  printf '%s\n' "$out"
  echo "tidy: $(printf '%s\n' "$findings" | wc -l) findings" >&2
  exit 1
fi
echo "tidy: clean in $(( $(date +%s) - start )) s"
