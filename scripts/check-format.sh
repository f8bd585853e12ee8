#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from the committed
# .clang-format: the format is part of the code, not a suggestion.
# Names each file that differs; `clang-format -i FILE` mends it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
list=$(git ls-files '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
count=$(printf '%s\n' "$list" | grep -c .)
# clang-format names every file that differs, one warning line each.
bad=$(printf '%s\n' "$list" | xargs -P "$(nproc)" -n 25 clang-format --dry-run 2>&1 |
      sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ -n "$bad" ]; then
  printf 'format: %s differs from .clang-format\n' $bad
  echo "format: run 'clang-format -i FILE' on the files above" >&2
  exit 1
fi
echo "format: $count files match .clang-format"
