#!/usr/bin/env bash
# Builds both trees: build/native (logic, simulated platform, unit tests,
# host tools) and build/windows (UpDate.exe, sample game, Wine helpers).
# Extra arguments go to the Windows tree's configure step, for example
# -DUPDATE_DESCRIPTION=/path/to/game.ini (tools/make_update.sh does this in a tree of its own).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"

build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
jobs=$(nproc)

cmake -S "$root" -B "$build/native" -DWINDOWS_BUILD_DIR="$build/windows" >/dev/null
# The Windows tree stamps its fingerprint modules with the host tool.
cmake --build "$build/native" -j "$jobs" --target fptool
cmake -S "$root" -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DFPTOOL="$build/native/bin/fptool" "$@" >/dev/null
cmake --build "$build/windows" -j "$jobs"
cmake --build "$build/native" -j "$jobs"
echo "UpDate.exe: $build/windows/bin/UpDate.exe"
