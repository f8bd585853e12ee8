#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need.
# Safe to run again: only what is missing is installed, and the package
# lists are refreshed at most once per run.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format clang-tidy python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  libz-mingw-w64-dev zlib1g-dev libpng-dev
  googletest libgtest-dev libbenchmark-dev
  wine wine32:i386 wine64 xvfb xauth
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  # dpkg-query wants the architecture qualifier as given.
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ] && [ -z "${need_update:-}" ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "bootstrap: done"
