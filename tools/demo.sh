#!/usr/bin/env bash
# The main job: builds what the demonstration needs and no more (the host
# fptool, the sample game, watcher.exe and the demonstration build of
# UpDate.exe, whose payload is large enough for the progress window to be
# seen; tools/build.sh builds the rest, the tests among it), then updates the
# sample game's old version under Wine, prints the whole dialogue and says
# whether the outcome is the one the answers asked for (exit code 0) or what
# is missing (exit code 1).
# Options go to tools/demo.py (e.g. --interactive, --pictures DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"

build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
jobs=$(nproc)
log="$build/demo-build.log"
mkdir -p "$build"
: >"$log"
step() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "demo: the build failed (the whole log: $log)" >&2
    exit 1
  fi
}
step cmake -S "$root" -B "$build/native" -DWINDOWS_BUILD_DIR="$build/windows"
# The Windows tree stamps its fingerprint modules with the host tool.
step cmake --build "$build/native" -j "$jobs" --target fptool
step cmake -S "$root" -B "$build/windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DFPTOOL="$build/native/bin/fptool"
# The demonstration's payload is made from the sample game's new version.
step cmake --build "$build/windows" -j "$jobs" --target sample_game watcher
step cmake --build "$build/windows" -j "$jobs" --target UpDateDemo
exec /usr/bin/python3 "$root/tools/demo.py" "$@"
